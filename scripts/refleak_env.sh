#!/usr/bin/env bash
# Makes the environment of `make refleak`: a venv of Debian's debug CPython
# (python3-dbg, with sys.gettotalrefcount) holding a NumPy built from
# source against it. A NumPy wheel is a release build: its own reference
# operations do not update the debug interpreter's total, so every call
# that runs NumPy code would move the total by itself.
#
# Debian installs the debug headers as links to the release ones, and a
# header included from Python.h is looked up beside the link's target, so
# the release pyconfig.h wins and Py_DEBUG stays undefined. Everything
# built here therefore gets -DPy_DEBUG explicitly (`make refleak` passes
# it to the extension too).
#
# The NumPy wheel is built once (a few minutes) into a cache outside the
# work tree and reused. Usage: refleak_env.sh VENV_DIR
set -euo pipefail
venv=$1
numpy_version=2.4.6
cache=${QUORVANT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvant}/refleak-wheels-py311d
py=$venv/bin/python

command -v python3-dbg >/dev/null || { echo "error: python3-dbg missing (scripts/install_ci_deps.sh)" >&2; exit 1; }
[ -x "$py" ] || python3-dbg -m venv "$venv"
if "$py" -c "import numpy, sys; sys.exit(numpy.__version__ != '$numpy_version')" 2>/dev/null; then
  exit 0
fi
mkdir -p "$cache"
if ! ls "$cache"/numpy-"$numpy_version"-*.whl >/dev/null 2>&1; then
  echo "building NumPy $numpy_version for the debug interpreter (once; cached in $cache)"
  "$py" -m pip install -q --upgrade pip  # Debian's bundled pip lacks -C
  # No SIMD dispatch: the build takes minutes instead of tens of them, and
  # reference counting does not depend on it.
  CFLAGS=-DPy_DEBUG CXXFLAGS=-DPy_DEBUG "$py" -m pip wheel -q --no-deps --no-binary numpy "numpy==$numpy_version" \
    -w "$cache" -Csetup-args=-Dbuildtype=debugoptimized -Csetup-args=-Ddisable-optimization=true \
    -Csetup-args=-Dallow-noblas=true
fi
"$py" -m pip install -q --no-index --find-links "$cache" "numpy==$numpy_version"
