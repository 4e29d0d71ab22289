#!/usr/bin/env bash
# Prints the path of the Python interpreter to build with: 3.13 when the
# machine has it (on PATH or under pyenv), else the newest 3.12 or 3.11 with a
# warning on stderr. Exits non-zero when there is none.
set -u

works() { "$1" -c 'import sys, venv' >/dev/null 2>&1; }

candidates() {
  local minor=$1
  command -v "python3.$minor" 2>/dev/null
  local root
  if command -v pyenv >/dev/null 2>&1; then root=$(pyenv root 2>/dev/null); fi
  root=${root:-$HOME/.pyenv}
  if [ -d "$root/versions" ]; then
    ls -d "$root"/versions/3."$minor"* 2>/dev/null | sort -t. -k3 -n -r | while read -r d; do
      echo "$d/bin/python3.$minor"
    done
  fi
  for d in /usr/local/bin /usr/bin; do echo "$d/python3.$minor"; done
}

for minor in 13 12 11; do
  while read -r py; do
    [ -n "$py" ] && [ -x "$py" ] || continue
    if works "$py"; then
      if [ "$minor" != 13 ]; then
        echo "warning: Python 3.13 not found; using $("$py" --version 2>&1) at $py" >&2
      fi
      echo "$py"
      exit 0
    fi
  done < <(candidates "$minor")
done
echo "error: no Python 3.13 (nor 3.12 or 3.11) found" >&2
exit 1
