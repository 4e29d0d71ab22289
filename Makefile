# Everything runs inside .venv, created on first use from requirements-dev.txt.
PY_HOST := $(shell scripts/find_python.sh)
VENV    := .venv
PY      := $(VENV)/bin/python
STAMP   := $(VENV)/.deps-stamp
BUILD   := build/release
ASAN    := build/asan

.PHONY: demo test sanitize bench build clean docs browser deps fuzz-build fuzz fuzz-smoke refleak valgrind

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

# System tools of the reliability checks (debug CPython, clang 19,
# valgrind); returns at once when they are installed.
deps:
	scripts/install_ci_deps.sh

# libFuzzer harnesses (tests/fuzz/) over the pure C++ cores, with ASan and
# UBSan. `make fuzz` runs each for FUZZ_SECONDS, `make fuzz-smoke` for 60 s
# (CI); two run at a time.
FUZZ         := build/fuzz
FUZZ_SECONDS ?= 600
fuzz-build: $(STAMP) deps
	$(VENV)/bin/cmake -S tests/fuzz -B $(FUZZ) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DCMAKE_CXX_COMPILER=clang++-19 -DPython3_EXECUTABLE=$(abspath $(PY)) >/dev/null
	$(VENV)/bin/cmake --build $(FUZZ)

fuzz: fuzz-build
	scripts/run_fuzz.sh $(FUZZ) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	scripts/run_fuzz.sh $(FUZZ) 60

# Reference leaks: every entry point, success and error paths, repeated on
# Debian's debug CPython 3.11 with a debug-built NumPy (scripts/
# refleak_env.sh); any steady growth of the total reference count or of
# the allocated blocks fails (tests/refleak_driver.py).
REFLEAK    := build/refleak
REFLEAK_PY := $(REFLEAK)/venv/bin/python
refleak: $(STAMP) deps
	scripts/refleak_env.sh $(REFLEAK)/venv
	$(VENV)/bin/cmake -S . -B $(REFLEAK)/build -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DPython_EXECUTABLE=$(abspath $(REFLEAK_PY)) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-DPy_DEBUG >/dev/null
	$(VENV)/bin/cmake --build $(REFLEAK)/build
	rm -rf $(REFLEAK)/site && mkdir -p $(REFLEAK)/site/quorvant
	cp -r python/quorvant/. $(REFLEAK)/site/quorvant/
	cp $(REFLEAK)/build/_quorvant*.so $(REFLEAK)/site/quorvant/
	PYTHONPATH=$(abspath $(REFLEAK)/site) $(REFLEAK_PY) tests/refleak_driver.py

# The README's main job under valgrind memcheck: any memory error (invalid
# read or write, use of uninitialised values, bad free) fails. The system
# allocator replaces the interpreter's own so every block is tracked;
# leak checking is left to `make refleak` (references) and the fuzz
# harnesses' LeakSanitizer (the cores), since the interpreter keeps memory
# until exit. NumPy's AVX2/AVX-512 sorting kernels are switched off: their
# unrolled blocks exhaust valgrind's translator ("VEX temporary storage
# exhausted"); NumPy then sorts with its baseline code.
valgrind: build deps
	NPY_DISABLE_CPU_FEATURES="X86_V3 X86_V4 AVX512_ICL AVX512_SPR" PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 --leak-check=no \
	    --track-origins=yes --num-callers=40 --suppressions=tests/valgrind/python.supp \
	    $(PY) examples/monitoring_cycle.py >/dev/null

clean:
	rm -rf build $(VENV)
