# Everything runs inside .venv, created on first use from requirements-dev.txt.
PY_HOST := $(shell scripts/find_python.sh)
VENV    := .venv
PY      := $(VENV)/bin/python
STAMP   := $(VENV)/.deps-stamp
BUILD   := build/release
ASAN    := build/asan

.PHONY: demo test sanitize bench build clean docs browser

demo: build
	$(PY) examples/monitoring_cycle.py

test: build
	$(PY) -m pytest -q -p no:cacheprovider tests

bench: build
	$(PY) bench/run.py

$(STAMP): requirements-dev.txt
	@test -n "$(PY_HOST)" || { echo "no usable Python found" >&2; exit 1; }
	test -x $(PY) || $(PY_HOST) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	touch $@

# The persistent build directory keeps the second build incremental.
build: $(STAMP)
	$(PY) -m pip install -q --no-deps --no-build-isolation \
	    -Cbuild-dir=$(BUILD) -Ccmake.build-type=Release .

# The test suite against an ASan/UBSan build of the extension. Leak detection
# is off because the interpreter itself keeps memory until exit; any other
# report aborts the run.
sanitize: $(STAMP)
	$(VENV)/bin/cmake -S . -B $(ASAN) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) -DQUORVANT_SANITIZE=ON \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	$(VENV)/bin/cmake --build $(ASAN)
	rm -rf $(ASAN)/site && mkdir -p $(ASAN)/site/quorvant
	cp -r python/quorvant/. $(ASAN)/site/quorvant/
	cp $(ASAN)/_quorvant*.so $(ASAN)/site/quorvant/
	PYTHONPATH=$(abspath $(ASAN)/site) PYTHONMALLOC=malloc \
	  LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  QUORVANT_SANITIZED=1 \
	  $(PY) -m pytest -q -p no:cacheprovider -x tests

# The documentation site (mkdocs, warnings as errors) in build/site.
DOCS_STAMP := $(VENV)/.docs-stamp
$(DOCS_STAMP): requirements-docs.txt $(STAMP)
	$(PY) -m pip install -q -r requirements-docs.txt
	touch $@

docs: build $(DOCS_STAMP)
	NO_MKDOCS_2_WARNING=1 $(PY) -m mkdocs build --strict

# Headless Chromium for the report's browser test (Debian's package; needs root).
browser:
	scripts/install_browser.sh

clean:
	rm -rf build $(VENV)
