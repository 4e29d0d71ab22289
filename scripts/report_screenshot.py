"""Writes docs/img/report.png: the top of the demo's HTML report as headless
Chromium paints it (run with the project's .venv after `make build`)."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
import demo_report  # noqa: E402

WIDTH, HEIGHT = 1280, 1900


def main() -> None:
    browser = shutil.which("chromium") or sys.exit("chromium is not installed: run scripts/install_browser.sh")
    with tempfile.TemporaryDirectory() as tmp:
        page, shot = Path(tmp) / "report.html", Path(tmp) / "shot.png"
        demo_report.demo_report().to_html(page)
        cmd = [browser, "--headless", "--disable-gpu", "--hide-scrollbars", f"--user-data-dir={tmp}/profile",
               f"--window-size={WIDTH},{HEIGHT}", f"--screenshot={shot}", page.as_uri()]
        if os.geteuid() == 0:
            cmd.insert(2, "--no-sandbox")
        subprocess.run(cmd, check=True, capture_output=True, timeout=120)
        out = ROOT / "docs" / "img" / "report.png"
        out.parent.mkdir(parents=True, exist_ok=True)
        # A palette image: a fraction of the bytes, the same picture.
        Image.open(shot).convert("RGB").quantize(colors=128, method=Image.Quantize.MEDIANCUT).save(out, optimize=True)
        print(f"{out} ({out.stat().st_size // 1024} KB)")


if __name__ == "__main__":
    main()
