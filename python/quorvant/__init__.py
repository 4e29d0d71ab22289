"""Fast, exact monitoring of machine-learning models in production.

Bias metrics before and after training, model performance metrics, data-drift
scores, runtime checks and constant-memory streaming monitors. Everything is
implemented in the native extension :mod:`quorvant._quorvant` and re-exported
here.
"""

from quorvant import _quorvant
from quorvant._quorvant import *  # noqa: F401,F403

__all__ = [name for name in dir(_quorvant) if not name.startswith("_")]
__version__ = "0.1.0"
