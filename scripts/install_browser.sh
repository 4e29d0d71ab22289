#!/usr/bin/env bash
# Headless Chromium for the report's browser test, from Debian's packages.
# Idempotent: does nothing when a chromium is already on PATH. Needs root (or
# sudo) the first time; prints what to do otherwise and fails.
set -euo pipefail

if command -v chromium >/dev/null 2>&1; then
    exit 0
fi
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
else
    echo "install_browser.sh: chromium is missing and installing it needs root:" >&2
    echo "  apt-get install chromium fonts-liberation fonts-dejavu-core" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Fonts: without them every glyph renders as a box in the screenshots.
$SUDO apt-get install -y -qq --no-install-recommends chromium fonts-liberation fonts-dejavu-core >/dev/null
command -v chromium >/dev/null
