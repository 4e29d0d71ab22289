#!/usr/bin/env bash
# Installs the system tools the reliability checks need: a debug CPython
# (reference-leak runs), clang 19 with its runtime (libFuzzer harnesses;
# older clang cannot compile the C++23 core against this libstdc++) and
# valgrind. Idempotent: returns at once when everything is present.
set -euo pipefail

packages=(python3-dbg python3-dev python3-venv clang-19 libclang-rt-19-dev valgrind)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "error: missing ${missing[*]}; run this script as root" >&2; exit 1
  fi
else
  SUDO=
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
