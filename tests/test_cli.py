"""The command line on CSV and Parquet files: exit codes, output formats, and one-line errors (exit 2) on bad input."""

from __future__ import annotations

import contextlib
import io
import json
import os
import subprocess
import sys
import time

import numpy as np
import pytest

from quorvant.cli import Progress, main

pa = pytest.importorskip("pyarrow")
pa_csv = pytest.importorskip("pyarrow.csv")
pq = pytest.importorskip("pyarrow.parquet")


def run(*args: str, cwd=None, code: str | None = None) -> subprocess.CompletedProcess:
    cmd = [sys.executable, "-c", code, *args] if code else [sys.executable, "-m", "quorvant", *args]
    return subprocess.run(cmd, capture_output=True, text=True, cwd=cwd, timeout=120)


def run_here(*args: str, cwd) -> subprocess.CompletedProcess:
    """The same command in this process (the entry point and exit are covered by the tests that use run)."""
    out, err = io.StringIO(), io.StringIO()
    previous = os.getcwd()
    os.chdir(cwd)
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            try:
                code = main(list(args))
            except SystemExit as exc:  # argparse's usage errors
                code = exc.code
    finally:
        os.chdir(previous)
    return subprocess.CompletedProcess(args, code, out.getvalue(), err.getvalue())


def _table(rng: np.random.Generator, n: int, shift: float) -> "pa.Table":
    x = rng.normal(shift, 1, n)
    return pa.table({
        "x": x, "city": rng.choice(["a", "b", "c"], n), "y": (x + rng.normal(0, 1, n) > 0).astype(np.int64),
        "p": (x > 0.1).astype(np.int64), "score": 1 / (1 + np.exp(-x)),
    })


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("cli")
    rng = np.random.default_rng(3)
    tables = {"ref": _table(rng, 3000, 0.0), "cur": _table(rng, 3000, 1.0), "same": _table(rng, 3000, 0.0)}
    for name, t in tables.items():
        pa_csv.write_csv(t, d / f"{name}.csv")
        pq.write_table(t, d / f"{name}.parquet")
    (d / "header_only.csv").write_text("x,city,y,p,score\n")
    (d / "empty.csv").write_text("")
    (d / "garbage.parquet").write_bytes(b"not parquet at all" * 10)
    (d / "data.xlsx").write_text("x")
    pa_csv.write_csv(tables["ref"].drop_columns(["city"]), d / "fewer.csv")
    pa_csv.write_csv(tables["ref"].set_column(0, "x", pa.array(["t"] * 3000)), d / "x_text.csv")
    (d / "base.json").write_text(json.dumps({"Accuracy": 0.9, "BalancedAccuracy": 0.9, "PrecisionPositive": 0.9,
                                             "PrecisionNegative": 0.9, "RecallPositive": 0.9,
                                             "RecallNegative": 0.9, "F1Score": 0.9}))
    worse = json.loads((d / "base.json").read_text()) | {"Accuracy": 0.7, "F1Score": 0.75}
    (d / "worse.json").write_text(json.dumps(worse))
    (d / "list.json").write_text('["Accuracy", "F1Score"]')
    (d / "text.json").write_text('{"Accuracy": "high"}')
    (d / "broken.json").write_text('{"Accuracy": 0.9,')
    (d / "partial.json").write_text('{"Accuracy": 0.9}')
    return d


@pytest.mark.parametrize("suffix", ["csv", "parquet"])
@pytest.mark.parametrize("fmt", ["table", "json", "html"])
def test_drift_exit_codes_and_formats(files, suffix, fmt):
    drifted = run("drift", f"ref.{suffix}", f"cur.{suffix}", "--format", fmt, cwd=files)
    assert drifted.returncode == 1, drifted.stderr
    assert "x drifted" in drifted.stderr and "Traceback" not in drifted.stderr
    same = run_here("drift", f"ref.{suffix}", f"same.{suffix}", "--columns", "x,city", "--format", fmt, cwd=files)
    assert same.returncode == 0, same.stderr
    assert same.stderr == ""  # no progress bar when stderr is not a terminal
    if fmt == "json":
        rows = json.loads(drifted.stdout)
        assert {r["column"] for r in rows} == {"x", "city", "y", "p", "score"}
        assert next(r for r in rows if r["column"] == "x")["drifted"] is True
        assert [r["column"] for r in json.loads(same.stdout)] == ["x", "city"]
    elif fmt == "html":
        assert drifted.stdout.startswith("<!DOCTYPE html>") and drifted.stdout.count('<svg class="hist"') == 5
    else:
        header = drifted.stdout.splitlines()[0].split()
        assert header[:3] == ["column", "kind", "bins"] and "DRIFTED" in drifted.stdout


@pytest.mark.parametrize("fail_on, code", [
    ("none", 0), ("PopulationStabilityIndex=100", 0), ("PopulationStabilityIndex=0.2", 1), ("JensenShannon", 1),
])
def test_drift_fail_on_picks_what_counts(files, fail_on, code, tmp_path):
    out = tmp_path / "report.html"
    r = run_here("drift", "ref.csv", "cur.csv", "--fail-on", fail_on, "--format", "html", "--output", str(out),
                 cwd=files)
    assert r.returncode == code, r.stderr
    assert r.stdout == "" and out.read_text(encoding="utf-8").startswith("<!DOCTYPE html>")


def test_bias_and_performance_gates(files):
    bias = run("bias", "cur.parquet", "--facet", "city=a", "--facet", "x>=0.5", "--label", "y", "--prediction",
               "p", "--format", "json", cwd=files)
    assert bias.returncode == 0, bias.stderr
    rows = json.loads(bias.stdout)
    assert [(r["facet"], r["value"]) for r in rows] == [("city", "== 'a'"), ("x", ">= 0.5")]
    assert len([k for k in rows[0] if k[0].isupper()]) == 12  # the post-training metrics
    gated = run("bias", "cur.csv", "--facet", "city", "--label", "y=1", "--fail-on", "ClassImbalance>=0", cwd=files)
    assert gated.returncode == 1 and "ClassImbalance" in gated.stderr
    assert "city == 'a'" in gated.stdout  # one column per value of the facet
    perf = run("performance", "cur.csv", "--y-true", "y", "--y-pred", "score", "--kind", "logistic",
               "--fail-on", "Accuracy<0.99", cwd=files)
    assert perf.returncode == 1 and "Accuracy" in perf.stderr and "LogLoss" in perf.stdout


def test_performance_json_feeds_check(files, tmp_path):
    for name in ("ref", "cur"):
        r = run("performance", f"{name}.csv", "--y-true", "y", "--y-pred", "p", "--format", "json",
                "-o", str(tmp_path / f"{name}.json"), cwd=files)
        assert r.returncode == 0, r.stderr
    same = run("check", str(tmp_path / "ref.json"), str(tmp_path / "ref.json"), cwd=files)
    assert same.returncode == 0 and "passed" in same.stdout and "classification" in same.stdout


@pytest.mark.parametrize("args, code, shown", [
    (["check", "base.json", "worse.json"], 1, "Accuracy failed"),
    (["check", "base.json", "worse.json", "--fail-on", "RecallPositive"], 0, ""),
    (["check", "base.json", "worse.json", "--fail-on", "F1Score", "--family", "classification"], 1, "F1Score"),
    (["check", "base.json", "worse.json", "--threshold", "0.5"], 0, ""),
    (["check", "base.json", "worse.json", "--metrics", "RecallNegative"], 0, ""),
])
def test_check_exit_codes(files, args, code, shown):
    r = (run if code else run_here)(*args, "--format", "json", cwd=files)
    assert r.returncode == code, r.stderr
    assert shown in r.stderr
    assert all(set(row) == {"group", "metric", "baseline", "latest", "drift", "failed"} for row in json.loads(r.stdout))


@pytest.mark.parametrize("args, words", [
    (["drift", "nope.csv", "cur.csv"], ["nope.csv", "no such file"]),
    (["drift", "ref.csv", "."], [".", "directory"]),
    (["drift", "ref.csv", "data.xlsx"], ["data.xlsx", ".xlsx"]),
    (["drift", "ref.csv", "garbage.parquet"], ["garbage.parquet", "PARQUET"]),
    (["drift", "ref.csv", "empty.csv"], ["empty.csv", "empty"]),
    (["drift", "ref.csv", "header_only.csv"], ["header_only.csv", "no rows"]),
    (["drift", "ref.csv", "cur.csv", "--columns", "x,zzz"], ["ref.csv", "'zzz'"]),
    (["drift", "ref.csv", "fewer.csv"], ["ref.csv", "fewer.csv", "city", "--columns"]),
    (["drift", "ref.csv", "x_text.csv", "--columns", "x"], ["x_text.csv", "'x'", "text"]),
    (["drift", "ref.csv", "cur.csv", "--fail-on", "Nope=1"], ["--fail-on", "Nope"]),
    (["bias", "cur.csv", "--facet", "zzz=1", "--label", "y"], ["cur.csv", "'zzz'"]),
    (["bias", "cur.csv", "--facet", "x=abc", "--label", "y"], ["x=abc", "'abc'", "number"]),
    (["bias", "cur.csv", "--facet", "city>=2", "--label", "y"], ["'city'", "text"]),
    (["bias", "cur.csv", "--facet", "city=a", "--label", "score"], ["'score'", "0 and 1"]),
    (["performance", "cur.csv", "--y-true", "yy", "--y-pred", "p"], ["cur.csv", "'yy'"]),
    (["performance", "cur.csv", "--y-true", "y", "--y-pred", "p", "--fail-on", "Accuracy=1"], ["comparison"]),
    (["check", "base.json", "list.json"], ["list.json", "not a metric dict"]),
    (["check", "base.json", "text.json"], ["text.json", "'Accuracy'", "not a number"]),
    (["check", "base.json", "broken.json"], ["broken.json", "not valid JSON"]),
    (["check", "base.json", "partial.json", "--family", "classification"], ["partial.json", "F1Score"]),
    (["check", "base.json", "partial.json"], ["--family"]),
    (["check", "base.json", "missing.json"], ["missing.json", "no such file"]),
    (["drift", "ref.csv"], ["CURRENT"]),
    (["frobnicate"], ["invalid choice"]),
])
def test_bad_input_is_one_line_with_exit_2(files, args, words):
    # The bad inputs every pipeline meets run as a real process; the rest here.
    issue = {("drift", "nope.csv", "cur.csv"), ("drift", "ref.csv", "header_only.csv"),
             ("drift", "ref.csv", "fewer.csv"), ("drift", "ref.csv", "cur.csv", "--columns", "x,zzz"),
             ("check", "base.json", "list.json")}
    r = (run if tuple(args) in issue else run_here)(*args, cwd=files)
    assert r.returncode == 2, (r.stdout, r.stderr)
    assert "Traceback" not in r.stderr and r.stdout == ""
    last = r.stderr.strip().splitlines()[-1]
    for word in words:
        assert word in last, last
    if args[0] != "frobnicate" and len(args) > 2:
        assert len(r.stderr.strip().splitlines()) == 1


def test_debug_shows_the_traceback(files):
    r = run("drift", "ref.csv", "header_only.csv", "--debug", cwd=files)
    assert r.returncode != 0 and "Traceback" in r.stderr and "UserError" in r.stderr


def test_missing_file_reader_names_the_extra(files):
    code = ("import sys; sys.modules['pyarrow'] = None; sys.modules['polars'] = None; "
            "from quorvant.cli import main; sys.exit(main(sys.argv[1:]))")
    r = run("drift", "ref.csv", "cur.csv", cwd=files, code=code)
    assert r.returncode == 2 and "quorvant[cli]" in r.stderr and "Traceback" not in r.stderr


def test_polars_reads_when_pyarrow_is_absent(files):
    pytest.importorskip("polars")
    code = ("import sys; sys.modules['pyarrow'] = None; "
            "from quorvant.cli import main; sys.exit(main(sys.argv[1:]))")
    r = run("drift", "ref.csv", "same.csv", "--columns", "x,city", "--format", "json", cwd=files, code=code)
    assert r.returncode == 0, r.stderr
    assert [row["drifted"] for row in json.loads(r.stdout)] == [False, False]


def test_help_has_examples():
    top = run("--help")
    assert top.returncode == 0 and "examples:" in top.stdout and "exit codes" in top.stdout
    for command in ("drift", "bias", "performance", "check"):
        r = run(command, "--help")
        assert r.returncode == 0 and "examples:" in r.stdout and f"quorvant {command}" in r.stdout


class _Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


def test_progress_bar_draws_on_a_terminal_after_its_delay_and_clears_its_line():
    stream = _Terminal()
    with Progress(True, stream, delay=0.0) as progress:
        progress.update("scoring columns", 3, 12)
        time.sleep(0.35)
    text = stream.getvalue()
    assert "scoring columns [######" in text and "3/12" in text
    assert text.endswith("\r") and text[:-1].split("\r")[-1].strip() == ""  # the line is blanked
    quiet = _Terminal()
    with Progress(True, quiet, delay=60.0):
        pass
    assert quiet.getvalue() == ""  # work under the delay shows nothing
