"""Fast, exact monitoring of machine-learning models in production.

Bias metrics before and after training, model performance metrics, data-drift
scores, runtime checks and constant-memory streaming monitors. The native
extension :mod:`quorvant._quorvant` computes everything; its functions and
classes are re-exported here unchanged.

Beside them, the table-level API works on whole tables (pandas, polars,
pyarrow, dicts of arrays): :func:`drift`, :func:`bias` with :class:`Label` and
:class:`AtLeast`, :func:`performance`, :func:`check` and :class:`Monitor`;
:func:`report` puts their results into one HTML page (as does
``result.to_html()``), and ``python -m quorvant`` is the command line.

Every native class pickles and copies, and the streaming ones merge:
:func:`merge_all` folds many monitors into one, and :mod:`quorvant.dask`
runs a monitor over a Dask DataFrame, one shard per partition.
"""

from quorvant import _quorvant
from quorvant._quorvant import *  # noqa: F401,F403
from quorvant._bias import AtLeast, AtMost, Above, Below, Label, bias
from quorvant._checks import check
from quorvant._drift import drift
from quorvant._merge import merge_all
from quorvant._performance import performance
from quorvant._report import report
from quorvant.monitor import Monitor

__all__ = [name for name in dir(_quorvant) if not name.startswith("_")] + [
    "Above", "AtLeast", "AtMost", "Below", "Label", "Monitor", "bias", "check", "drift", "merge_all", "performance",
    "report",
]
__version__ = "0.1.0"
