"""The include graph of src/ runs one way.

Layers, bottom to top (a file may include its own layer and the ones below):

  0 base     common/ (pure shared C++: chunk sources, columns, the kernel
             clone list), errors/, metrics/, config/
  1 shared   data_handler/, reporting/, runtime/: pure cores every family
             uses (labels, confusion counts, drift reports, records)
  2 family   data_bias/, model_bias/, model_perf/, drift/: pure family
             cores; a family sees no other family
  3 frame    frame/: the binding frame, the only Python-including code
             besides the faces; it knows no core, only the base
  4 face     */python_impl/*, files named py_* (they read Python objects)
             and registry.hpp
  5 module   module.cpp

Layers 0 to 2 are the core: no Python.h, no NumPy headers, no frame/ or
face include, and no Python C API name in their code. Only frame/python.hpp
includes Python.h and only frame/numpy.hpp the NumPy headers.
"""

from __future__ import annotations

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"

BASE, SHARED, FAMILY, FRAME, FACE, MODULE = range(6)
NAMES = ["base", "shared", "family", "frame", "face", "module"]
DIRECTORIES = {
    "common": BASE, "errors": BASE, "metrics": BASE, "config": BASE, "state": BASE,
    "data_handler": SHARED, "reporting": SHARED, "runtime": SHARED,
    "data_bias": FAMILY, "model_bias": FAMILY, "model_perf": FAMILY, "drift": FAMILY,
    "frame": FRAME,
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
PYTHON_NAME = re.compile(r"\b(Py[A-Z_]\w*|_Py\w*|npy_\w*|NPY_\w*)")
COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.S)


def layer(rel: str) -> int:
    parts = rel.split("/")
    if rel == "module.cpp":
        return MODULE
    if rel == "registry.hpp" or "python_impl" in parts[:-1] or parts[-1].startswith("py_"):
        return FACE
    if parts[0] not in DIRECTORIES:
        raise AssertionError(f"{rel}: a new directory needs its place in the layers (tests/test_layers.py)")
    return DIRECTORIES[parts[0]]


def family(rel: str) -> str:
    return rel.split("/")[0]


def sources() -> list[str]:
    return sorted(str(p.relative_to(SRC)) for p in SRC.rglob("*") if p.suffix in (".hpp", ".cpp"))


def includes(rel: str) -> list[tuple[str, str]]:
    return INCLUDE.findall((SRC / rel).read_text())


def violations(rel: str) -> list[str]:
    """Every rule the file breaks, as readable lines."""
    out = []
    mine = layer(rel)
    core = mine <= FAMILY
    for kind, target in includes(rel):
        if kind == "<":
            if target == "Python.h" and rel != "frame/python.hpp":
                out.append(f"includes <Python.h> (only frame/python.hpp does)")
            if target.startswith("numpy/") and rel != "frame/numpy.hpp":
                out.append(f"includes <{target}> (only frame/numpy.hpp does)")
            continue
        if not (SRC / target).is_file():
            out.append(f'includes "{target}", which is not a file of src/')
            continue
        theirs = layer(target)
        if theirs > mine:
            out.append(f'includes "{target}" ({NAMES[theirs]}) from the {NAMES[mine]} layer')
        elif mine == FAMILY and theirs == FAMILY and family(target) != family(rel):
            out.append(f'includes "{target}" from another family')
        elif mine == FRAME and SHARED <= theirs <= FAMILY:
            out.append(f'includes the core file "{target}" (the frame knows only the base)')
    if core:
        code = COMMENT.sub("", (SRC / rel).read_text())
        names = sorted(set(PYTHON_NAME.findall(code)))
        if names:
            out.append("uses the Python C API: " + ", ".join(names[:5]))
    return out


@pytest.mark.parametrize("rel", sources())
def test_includes_run_one_way(rel):
    assert violations(rel) == []


def test_the_rules_catch_what_they_say():
    # The checker itself, on the rules' own examples.
    assert layer("frame/args.cpp") == FRAME and layer("drift/python_impl/py_inputs.cpp") == FACE
    assert layer("data_handler/py_types_handler.cpp") == FACE and layer("common/column.hpp") == BASE
    assert layer("model_perf/streaming/drift.hpp") == FAMILY and layer("module.cpp") == MODULE
    with pytest.raises(AssertionError, match="new directory"):
        layer("newdir/x.hpp")
    assert PYTHON_NAME.findall("PyObject* p; Py_DECREF(p); npy_intp n; Label l;") == ["PyObject", "Py_DECREF", "npy_intp"]
    assert INCLUDE.findall('#include "frame/x.hpp"\n  # include <Python.h>\n') == [('"', "frame/x.hpp"), ("<", "Python.h")]
