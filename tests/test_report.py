"""The HTML report: the SVG histograms, number formatting, escaping, size, and
every number and bar of the page against the result objects."""

from __future__ import annotations

import math
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from hypothesis import given, strategies as st

import quorvant as q
from quorvant._report import charts
from quorvant._report.numbers import fmt
from quorvant.results import Histogram

from report_dom import check_chart, check_charts, check_numbers, read_page, read_steps

jinja2 = pytest.importorskip("jinja2")

SVG = "{http://www.w3.org/2000/svg}"


def _hist_continuous(n_bins: int = 6) -> Histogram:
    edges = [float(i) for i in range(n_bins - 2)]
    ref = [0.0] + [1.0 / (n_bins - 2)] * (n_bins - 3) + [0.0, 1.0 / (n_bins - 2)]
    cur = [0.1] + [0.8 / (n_bins - 2)] * (n_bins - 3) + [0.0, 0.1 + 0.8 / (n_bins - 2)]
    return Histogram("continuous", edges, None, ref, cur, [c * 100 for c in cur])


def _parse(svg: str) -> ET.Element:
    return ET.fromstring(svg.replace("<svg ", '<svg xmlns="http://www.w3.org/2000/svg" ', 1))


# ---------------------------------------------------------------------------
# Numbers


@pytest.mark.parametrize("value, percent, text", [
    (20000, False, "20,000"), (np.int64(7), False, "7"), (0.123456, False, "0.1235"), (0.0, False, "0"),
    (1.5e-06, False, "1.5e-06"), (123456.7, False, "123,457"), (-0.5, False, "-0.5"), (True, False, "yes"),
    (float("nan"), False, "NaN"), (float("inf"), False, "∞"), (float("-inf"), False, "−∞"), (None, False, "–"),
    (0.5, True, "50.0%"), (0.0004, True, "0.0%"), (np.float32(0.25), False, "0.25"),
])
def test_fmt(value, percent, text):
    assert fmt(value, percent=percent) == text


# ---------------------------------------------------------------------------
# Charts


@pytest.mark.parametrize("hist, labels", [
    (Histogram("continuous", [0.0, 4.5], None, [0, .5, 0, .5], [0, 1, 0, 0], [0, 3, 0, 0]),
     ["< 0", "[0, 4.5)", "= 4.5", "> 4.5"]),
    (Histogram("continuous", [5.0], None, [0, 1, 0], [.5, .5, 0], [1, 1, 0]), ["< 5", "= 5", "> 5"]),
    (Histogram("categorical", None, ["a", "b", None], [.5, .5, 0], [0, .5, .5], [0, 1, 1]),
     ["a", "b", charts.UNSEEN]),
])
def test_bin_labels_name_every_bin(hist, labels):
    assert charts.bin_labels(hist) == labels


def _chart(svg: str):
    charts_read = read_page(svg).charts
    assert len(charts_read) == 1
    return charts_read[0]


@pytest.mark.parametrize("n_bins", [3, 4, 7, 71, 72, 250, 5000])
def test_chart_draws_every_bin_as_one_unit_step_per_series(n_bins):
    hist = _hist_continuous(n_bins) if n_bins > 3 else Histogram("continuous", [2.0], None, [0, 1, 0], [.2, .5, .3],
                                                                 [2, 5, 3])
    svg = charts.histogram_svg(hist, "x", "t")
    root = _parse(svg)  # well-formed
    assert root.get("role") == "img" and root.get("data-bins") == str(n_bins)
    assert root.find(f"{SVG}title").text and root.find(f"{SVG}desc").text
    assert not root.findall(f".//{SVG}rect")
    check_chart(_chart(svg), hist)
    # Both open bins are shaded; wide slots are cut apart inside the
    # reference area only (a clip of the same path), narrow ones are not.
    assert root.find(f".//{SVG}path[@class='open']") is not None
    wide = charts.PLOT_W / n_bins >= charts.GAP_SLOT
    assert (root.find(f".//{SVG}clipPath") is not None) == wide == (n_bins <= 71)
    if wide:
        clip = root.find(f".//{SVG}clipPath/{SVG}path").get("d")
        assert clip == root.find(f".//{SVG}path[@class='ref']").get("d")
        assert root.find(f".//{SVG}path[@class='gap']").get("d").count("M") == n_bins - 1


@given(st.lists(st.integers(0, charts.STEPS), max_size=60))
def test_step_paths_read_back_as_the_levels_written(levels):
    path = charts.step_path(levels)
    assert read_steps(path + "V0", "V0") == levels


def test_chart_heights_are_whole_thousandths_of_the_axis_top():
    hist = Histogram("categorical", None, ["a", "b", "c", None], [.0004, .2996, .7, 0], [.0006, .3, .5, .1994],
                     [1] * 4)
    assert charts.nice_top(.7) == .8
    assert charts.heights(hist.reference, .8) == [0, 374, 875, 0]
    assert charts.heights(hist.current, .8) == [1, 375, 625, 249]
    chart = _chart(charts.histogram_svg(hist, "c", "t"))
    assert chart.series == {"ref": ["M0 0h1v374h1v501h1v-875h1V0z"], "cur": ["M0 0v1h1v374h1v250h1v-376h1V0"]}
    check_chart(chart, hist)


def test_chart_escapes_labels_and_cuts_long_ones_with_the_full_text_in_a_tooltip():
    labels = ['<script>alert("x")</script>', "a & b", "ünïcødé 名前", "x" * 300, None]
    hist = Histogram("categorical", None, labels, [.25, .25, .25, .25, 0], [.2, .2, .2, .2, .2], [1] * 5)
    svg = charts.histogram_svg(hist, 'col "<q>"', "t")
    assert "<script>" not in svg
    root = _parse(svg)  # well-formed despite the labels
    texts = ["".join(t.itertext()) for t in root.iter(f"{SVG}text")]
    assert "a & b" in texts and "ünïcødé 名前" in texts
    long_label = next(t for t in root.iter(f"{SVG}text") if t.find(f"{SVG}title") is not None
                      and t.find(f"{SVG}title").text == "x" * 300)
    assert len(long_label.find(f"{SVG}title").tail) <= charts.LABEL_CHARS
    assert 'col "<q>"' in root.find(f"{SVG}title").text


def test_many_category_labels_are_thinned_but_every_bar_is_drawn():
    n = 300
    share = [1 / n] * n + [0.0]
    hist = Histogram("categorical", None, [f"l{i:03d}" for i in range(n)] + [None], share, share, [1.0] * (n + 1))
    svg = charts.histogram_svg(hist, "c", "t")
    check_chart(_chart(svg), hist)
    assert len(_parse(svg).findall(f"{SVG}text[@class='xl cat']")) + 1 <= charts.MAX_LABELS


@given(st.floats(min_value=1e-9, max_value=1.0, allow_nan=False))
def test_share_axis_top_is_round_and_close_above(value):
    top = charts.nice_top(value)
    assert value <= top <= 1.0
    assert top < 2.5 * value or top == 1.0


def test_largest_changes_orders_by_size_and_skips_still_bins():
    hist = Histogram("categorical", None, ["a", "b", "c", None], [.5, .3, .2, 0], [.2, .3, .3, .2], [2, 3, 3, 2])
    assert charts.largest_changes(hist) == [(0, .5, .2), (3, 0, .2), (2, .2, .3)]


# ---------------------------------------------------------------------------
# Pages


@pytest.fixture(scope="module")
def results():
    rng = np.random.default_rng(5)

    def table(n, shift):
        x = rng.normal(shift, 1, n)
        return {"x": x, "const": np.ones(n), "city": rng.choice(["a", "b", "c"], n),
                "y": (x + rng.normal(0, 1, n) > 0).astype(int), "p": (x > 0.2).astype(int),
                "group": rng.choice(["u", "v"], n)}

    ref, cur = table(3000, 0.0), table(1000, 0.7)
    drift = q.drift(ref, cur, columns=["x", "const", "city"])
    bias = q.bias(cur, facet={"group": [q.Label("u"), q.Label("v")]}, label="y", prediction="p")
    perf = q.performance("y", "p", data=cur)
    check = q.check(q.performance("y", "p", data=ref), perf)
    monitor = q.Monitor(ref, target="y", prediction="p", features=["x", "city"], facets={"group": q.Label("u")})
    monitor.update(cur)
    return drift, bias, perf, check, monitor.report()


def test_every_result_renders_its_page_with_every_number_as_the_result_holds_it(results, tmp_path):
    for result in results:
        path = tmp_path / "one.html"
        page = result.to_html(path)
        assert path.read_text(encoding="utf-8") == page
        reader = read_page(page)
        check_numbers(reader, result)
        check_charts(reader, result)
    page = q.report(*results, title="All")
    reader = read_page(page)
    assert check_numbers(reader, *results) > 100
    check_charts(reader, *results)
    drift = results[0]
    assert drift.errors and "const" in drift.errors  # a column in error has no chart, its reason is shown
    assert drift.errors["const"] in page


def test_summary_comes_first_and_says_what_failed_in_words(results):
    drift, _, _, check, _ = results
    page = q.report(drift, check)
    summary = page[page.index('id="summary-h"'):page.index('id="s0"')]
    assert f"{len(drift.drifted)} of {len(drift)} features drifted" in summary
    assert ("failed" in summary) == (not check.passed)
    assert "Attention needed" in summary or "All clear" in summary
    # The verdict is said in words beside its icon, never by colour alone.
    for word in ("drifted", "no drift", "not scored"):
        assert f"</span> {word}</span>" in page


def test_hostile_names_are_escaped_and_shown_as_written():
    rng = np.random.default_rng(1)
    names = ['<img src=x onerror=alert(1)>', 'quote"d \'name\'', "ünïcødé 名前 ✓", "n" * 400]
    labels = np.array(["<b>bold</b>", "a&amp;b", "Ωmega", '"'], dtype=object)
    ref = {n: rng.normal(0, 1, 500) for n in names} | {"lab": labels[rng.integers(0, 4, 500)]}
    cur = {n: rng.normal(0.5, 1, 500) for n in names} | {"lab": labels[rng.integers(0, 4, 500)]}
    result = q.drift(ref, cur)
    page = q.report(result, title="<title> & \"t\"")
    assert "<img src=x" not in page and "<b>bold</b>" not in page
    text = "".join(read_page(page).texts)
    for shown in [*names, "<b>bold</b>", "a&amp;b", "Ωmega", "<title> & \"t\""]:
        assert shown in text
    check_numbers(read_page(page), result)


@pytest.fixture(scope="module")
def fifty_normal():
    rng = np.random.default_rng(2)
    ref = {f"feature_{i}": rng.normal(0, 1, 100_000) for i in range(45)}
    ref |= {f"label_{i}": rng.choice([f"v{j}" for j in range(40)], 100_000) for i in range(5)}
    cur = {k: (v * 1.1 if v.dtype.kind == "f" else v) for k, v in ref.items()}
    return q.drift(ref, cur)


@pytest.fixture(scope="module")
def fifty_lognormal():
    rng = np.random.default_rng(3)
    ref = {f"feature_{i}": rng.lognormal(0, 1, 100_000) for i in range(50)}
    cur = {k: rng.lognormal(0.1, 1, 100_000) for k in ref}
    return q.drift(ref, cur)


@pytest.mark.parametrize("data, mean_bins", [("fifty_normal", 120), ("fifty_lognormal", 1000)])
def test_fifty_columns_of_100k_rows_fit_in_under_a_megabyte(request, data, mean_bins):
    result = request.getfixturevalue(data)
    # The default Freedman-Diaconis rule gives many bins at 10^5 rows, heavy
    # tails over a thousand: all of them are drawn.
    bins = [r["bins"] for r in result.to_dicts() if r["kind"] == "continuous"]
    assert sum(bins) / len(bins) > mean_bins
    page = result.to_html()
    assert len(page.encode("utf-8")) < 1_000_000
    assert "http://" not in page.replace("http://www.w3.org", "") and "https://" not in page
    assert "<script" not in page and "<link" not in page
    check_charts(read_page(page), result)


def test_report_refuses_what_it_cannot_draw(monkeypatch, results):
    with pytest.raises(ValueError, match="at least one result"):
        q.report()
    with pytest.raises(TypeError, match="not dict"):
        q.report({"Accuracy": 0.9})
    monkeypatch.setitem(__import__("sys").modules, "jinja2", None)
    with pytest.raises(ImportError, match=r"quorvant\[report\]"):
        results[0].to_html()


def test_nan_and_undefined_metrics_read_as_such():
    data = {"g": ["a", "a", "b", "b"], "y": [1, 1, 1, 0], "p": [1, 1, 0, 0]}
    result = q.bias(data, facet={"g": q.Label("a")}, label="y", prediction="p")
    page = result.to_html()
    row = result[0]
    assert any(math.isnan(row[m]) for m in result.metrics)
    for reason in set(row["undefined"].values()):
        assert reason in page
    check_numbers(read_page(page), result)
