"""The demo's report in a real browser: headless Chromium (Debian's package,
installed by scripts/install_browser.sh) paints it, in light and dark, prints
it, and serialises the DOM it built, whose charts, bars and numbers must match
the result objects.

Skipped when Chromium is absent, unless QUORVANT_REQUIRE_BROWSER is set (CI
sets it), which turns the absence into a failure.
"""

from __future__ import annotations

import io
import os
import shutil
import subprocess
import sys
from collections import Counter
from pathlib import Path

import pytest

from report_dom import check_charts, check_numbers, read_page

pytest.importorskip("jinja2")
Image = pytest.importorskip("PIL.Image")

ROOT = Path(__file__).resolve().parent.parent
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
if CHROMIUM is None:
    if os.environ.get("QUORVANT_REQUIRE_BROWSER"):
        pytest.fail("QUORVANT_REQUIRE_BROWSER is set but chromium is not on PATH (run scripts/install_browser.sh)",
                    pytrace=False)
    pytest.skip("chromium is not installed (scripts/install_browser.sh installs it; CI requires it)",
                allow_module_level=True)

WIDTH, HEIGHT = 1280, 2400
# The light and dark colours of the two series (report.css), and the fewest
# pixels of each that prove the series was drawn, not only its legend key:
# the reference is a filled area, the current a 2 px outline.
SERIES_COLOURS = {"light": [(0x5B, 0x83, 0xCF), (0xC8, 0x65, 0x1B)], "dark": [(0x5D, 0x82, 0xC2), (0xF0, 0xA0, 0x4B)]}
SERIES_PIXELS = [20_000, 1_500]


def chromium(tmp: Path, *args: str) -> subprocess.CompletedProcess:
    # The sanitizer run preloads its runtime into this process: the browser
    # must not inherit it.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("LD_PRELOAD", "ASAN_", "UBSAN_"))}
    cmd = [CHROMIUM, "--headless", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
           "--disable-extensions", f"--user-data-dir={tmp / 'profile'}", f"--window-size={WIDTH},{HEIGHT}", *args]
    if hasattr(os, "geteuid") and os.geteuid() == 0:
        cmd.insert(2, "--no-sandbox")  # Chromium refuses to run as root with its sandbox
    return subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=180, check=True)


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    sys.path.insert(0, str(ROOT / "examples"))
    try:
        import demo_report
    finally:
        sys.path.pop(0)
    tmp = tmp_path_factory.mktemp("browser")
    result = demo_report.demo_report()
    page = tmp / "report.html"
    result.to_html(page)
    return tmp, page, result


def _pixels_near(counts: Counter, colour: tuple[int, int, int], tol: int = 6) -> int:
    return sum(n for p, n in counts.items() if all(abs(a - b) <= tol for a, b in zip(p, colour)))


@pytest.mark.parametrize("scheme", ["light", "dark"])
def test_screenshot_shows_the_page_and_its_charts(demo, scheme):
    tmp, page, _ = demo
    shot = tmp / f"{scheme}.png"
    flags = ["--force-dark-mode"] if scheme == "dark" else []
    chromium(tmp, *flags, f"--screenshot={shot}", page.as_uri())
    image = Image.open(io.BytesIO(shot.read_bytes())).convert("RGB")
    assert image.size == (WIDTH, HEIGHT)
    pixels = list(image.getdata()) if not hasattr(image, "get_flattened_data") else list(image.get_flattened_data())
    background = image.getpixel((2, 2))
    assert (sum(background) < 150) == (scheme == "dark")
    # Not blank: many colours, and a good part of the page is not background.
    counts = Counter(pixels)
    assert len(counts) > 200
    assert sum(p != background for p in pixels) / len(pixels) > 0.05
    # Both series were painted in the scheme's colours.
    for colour, least in zip(SERIES_COLOURS[scheme], SERIES_PIXELS):
        assert _pixels_near(counts, colour) >= least, f"too little {colour} in the {scheme} screenshot"


def test_dom_has_every_chart_bar_and_number_of_the_result(demo):
    tmp, page, result = demo
    dom = chromium(tmp, "--dump-dom", page.as_uri()).stdout
    assert "<svg" in dom and "</html>" in dom
    reader = read_page(dom)
    scored = [r for r in result.drift.to_dicts() if r["error"] is None]
    assert len(reader.charts) == len(scored) == 4
    check_charts(reader, result)
    assert check_numbers(reader, result) > 80


def test_page_prints(demo):
    tmp, page, _ = demo
    pdf = tmp / "report.pdf"
    chromium(tmp, "--no-pdf-header-footer", f"--print-to-pdf={pdf}", page.as_uri())
    data = pdf.read_bytes()
    assert data.startswith(b"%PDF") and data.count(b"/Type /Page") - data.count(b"/Type /Pages") >= 2
