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

from typing import TYPE_CHECKING

from quorvant import _quorvant
from quorvant._quorvant import *  # noqa: F401,F403

if TYPE_CHECKING:  # the lazily loaded names, for type checkers and the API reference
    from quorvant._bias import Above, AtLeast, AtMost, Below, Label, bias
    from quorvant._checks import check
    from quorvant._drift import drift
    from quorvant._merge import merge_all
    from quorvant._performance import performance
    from quorvant._report import report
    from quorvant.monitor import Monitor

# The table-level layer loads on first use: importing the package (or the
# native module through it) costs nothing beyond the extension itself, and
# needs neither NumPy nor narwhals until a layer name is used.
_LAYER = {
    "Above": "quorvant._bias", "AtLeast": "quorvant._bias", "AtMost": "quorvant._bias",
    "Below": "quorvant._bias", "Label": "quorvant._bias", "bias": "quorvant._bias",
    "check": "quorvant._checks", "drift": "quorvant._drift", "performance": "quorvant._performance",
    "report": "quorvant._report", "Monitor": "quorvant.monitor", "merge_all": "quorvant._merge",
}

__all__ = [name for name in dir(_quorvant) if not name.startswith("_")] + sorted(_LAYER)

def __getattr__(name: str):
    module = _LAYER.get(name)
    if module is None:
        raise AttributeError(f"module 'quorvant' has no attribute {name!r}")
    import importlib

    value = getattr(importlib.import_module(module), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAYER))


__version__ = "0.1.0"
