"""The module in an embedding program that finalises the interpreter and
starts a new one: nothing kept from the first interpreter (the module
object, interned names, NumPy's API table) may leak into the second."""

from __future__ import annotations

import json
import os
import pathlib
import shlex
import shutil
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import quorvant

from support import child_env

EMBED = r"""
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <cstdio>

// Runs argv[1] in a first interpreter, argv[2] in a second one.
int main(int argc, char** argv) {
    if (argc != 3) return 2;
    for (int life = 1; life <= 2; ++life) {
        Py_Initialize();
        const int rc = PyRun_SimpleString(argv[life]);
        std::fflush(stdout);
        if (Py_FinalizeEx() < 0) return 20 + life;
        if (rc != 0) return 10 + life;
    }
    return 0;
}
"""

# Entry points that need no NumPy, with keywords (interned names), metric
# names and report keys, and one of each class family.
USE = r"""
import json, sys
import quorvant._quorvant as q
out = {}
base = {"ClassImbalance": 0.1, "DifferenceInProportionOfLabels": 0.2, "KlDivergence": 0.01, "JsDivergence": 0.01,
        "LpNorm": 0.2, "TotalVariationDistance": 0.1, "KolmogorovSmirnov": 0.1}
latest = dict(base, KlDivergence=0.5)
out["check"] = q.py_data_bias_runtime_check(baseline=base, latest=latest, threshold=0.1)
perf = {"BalancedAccuracy": 0.9, "PrecisionPositive": 0.9, "PrecisionNegative": 0.9, "RecallPositive": 0.9,
        "RecallNegative": 0.9, "Accuracy": 0.9, "F1Score": 0.9}
out["partial"] = q.py_model_perf_class_rt_partial(perf, dict(perf, Accuracy=0.5), evaluation_metrics=["Accuracy"])
try:
    q.py_data_bias_runtime_check(baseline=base)
except TypeError as e:
    out["missing"] = str(e)
out["categorical"] = q.py_compute_drift_categorical_distribtuion(
    list("aabbc"), candidate=list("abccc"), drift_metrics=["JensenShannon", "PopulationStabilityIndex"])
m = q.PyDataBiasStreaming(feature_data=[0, 1, 0, 1, 1, 0], gt_data=[1, 1, 0, 0, 1, 0])
m.push_batch(f=[1, 0, 1, 1], g=[0, 0, 1, 1])
out["bias"] = [m.performance_snapshot(), m.drift_report(drift_threshold=0.1)]
d = q.PyStreamingCategoricalDataDriftFlush(baseline_data=list("aabbc"), flush_rate=None, flush_cadence=None)
d.update_stream_batch(runtime_data=list("abccc"))
out["stream"] = d.compute_drift(drift_type="JensenShannon")
LIFE
print("RESULT " + json.dumps(out, sort_keys=True))
"""

FIRST_LIFE = r"""
import numpy as np
out["numpy"] = q.py_model_perf_classification(np.array([1, 0, 1, 1]), np.array([1, 1, 0, 1]))["Accuracy"]
"""

# NumPy may refuse to load a second time in one process; a call that needs
# it must then fail with an exception, not crash.
SECOND_LIFE = r"""
try:
    q.py_model_perf_classification([1, 0], [1, 1])
    out["numpy"] = "no error"
except Exception as e:
    out["numpy"] = type(e).__name__
"""


def compiler() -> str | None:
    for name in (os.environ.get("CXX"), (sysconfig.get_config_var("CXX") or "").split(" ")[0], "c++", "g++"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def link_flags() -> list[str]:
    libdir = sysconfig.get_config_var("LIBDIR")
    flags = [f"-L{libdir}", f"-lpython{sysconfig.get_config_var('LDVERSION')}", f"-Wl,-rpath,{libdir}"]
    flags += shlex.split(sysconfig.get_config_var("LIBS") or "") + shlex.split(sysconfig.get_config_var("SYSLIBS") or "")
    if not sysconfig.get_config_var("Py_ENABLE_SHARED"):
        flags += [f"-L{sysconfig.get_config_var('LIBPL')}", "-Wl,--export-dynamic"]
    return flags


@pytest.fixture(scope="module")
def embed(tmp_path_factory):
    cxx = compiler()
    if cxx is None:
        pytest.skip("no C++ compiler to build the embedding program")
    if not sysconfig.get_config_var("LDLIBRARY"):
        pytest.skip("this interpreter offers no library to embed")
    d = tmp_path_factory.mktemp("embed")
    (d / "embed.cpp").write_text(EMBED)
    exe = d / "embed"
    cmd = [cxx, "-std=c++17", str(d / "embed.cpp"), f"-I{sysconfig.get_paths()['include']}", "-o", str(exe)]
    subprocess.run(cmd + link_flags(), check=True, capture_output=True, text=True)
    return exe


def test_a_second_interpreter_makes_its_own_module_names_and_numpy(embed):
    paths = [pathlib.Path(quorvant.__file__).parent.parent, pathlib.Path(np.__file__).parent.parent]
    env = child_env(PYTHONPATH=os.pathsep.join(str(p) for p in paths))
    first = USE.replace("LIFE", FIRST_LIFE)
    second = USE.replace("LIFE", SECOND_LIFE)
    run = subprocess.run([str(embed), first, second], env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    results = [json.loads(line[len("RESULT "):]) for line in run.stdout.splitlines() if line.startswith("RESULT ")]
    assert len(results) == 2, run.stdout + run.stderr
    one, two = results
    assert one["missing"] == "py_data_bias_runtime_check() missing required argument 'latest' (pos 2)"
    assert one["check"] == {"passed": False, "failed_report": [{"metric": "KlDivergence", "drift": one["check"]["failed_report"][0]["drift"]}]}
    assert one["numpy"] == 0.5
    assert two["numpy"] in ("ImportError", "TypeError"), two["numpy"]
    for key in ("check", "partial", "missing", "categorical", "bias", "stream"):
        assert two[key] == one[key], key
