"""Writes the committed sample payloads (tests/data/state/v<version>/) from
the objects of state_cases.sample. Run once per format version; the files
of earlier versions stay as they are, and the tests keep loading them."""

from __future__ import annotations

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from state_cases import CASES, sample  # noqa: E402
from state_format import read  # noqa: E402


def main() -> None:
    for name in CASES:
        payload = sample(name).to_state()
        out = pathlib.Path(__file__).parent / "data" / "state" / f"v{read(payload)['version']}" / f"{name}.bin"
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_bytes(payload)
        print(out, len(payload))


if __name__ == "__main__":
    main()
