"""``python -m quorvant``: the command line (see :mod:`quorvant.cli`)."""

import sys

from quorvant.cli import main

sys.exit(main())
