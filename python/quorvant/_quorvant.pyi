"""Type stubs of the native extension module."""

from typing import Mapping, Sequence

import numpy as np
import numpy.typing as npt

MetricDict = dict[str, float]
DriftReportDict = dict[str, object]

# Model performance

def py_model_perf_linear_regression(y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic]) -> MetricDict:
    """Eight regression metrics of (y_true, y_pred): RootMeanSquaredError, MeanSquaredError,
    MeanAbsoluteError, RSquared, MaxError, MeanSquaredLogError, RootMeanSquaredLogError,
    MeanAbsolutePercentageError."""

# Runtime checks: a latest metric dictionary against a baseline one. Each
# answers {"passed": True} or {"passed": False, "failed_report": [{"metric":
# name, "drift": float}, ...]}; an omitted threshold is 0.1 (None is refused).

def py_data_bias_runtime_check(baseline: MetricDict, latest: MetricDict, threshold: float = 0.10) -> DriftReportDict:
    """Compares all seven pre-training bias metrics; keys that name no metric are refused."""

def py_data_bias_partial_check(baseline: MetricDict, latest: MetricDict, metrics: Sequence[str], threshold: float = 0.10) -> DriftReportDict:
    """Compares the listed pre-training bias metrics; both dicts must still hold all seven."""

def py_model_bias_runtime_check(baseline: MetricDict, latest: MetricDict, threshold: float = 0.10) -> DriftReportDict:
    """Compares all twelve post-training bias metrics; other keys are ignored."""

def py_model_bias_partial_check(baseline: MetricDict, latest: MetricDict, metrics: Sequence[str], threshold: float = 0.10) -> DriftReportDict:
    """Compares the listed post-training bias metrics; both dicts must still hold all twelve."""

def py_model_perf_class_rt_full(baseline: MetricDict, latest: MetricDict, threshold: float = 0.10) -> DriftReportDict:
    """Fails a classification metric when (1 + threshold) * latest < baseline."""

def py_model_perf_class_rt_partial(baseline: MetricDict, latest: MetricDict, evaluation_metrics: Sequence[str], threshold: float = 0.10) -> DriftReportDict:
    """The classification check on the listed metrics (LogLoss is refused)."""

def py_model_perf_lin_reg_rt_full(baseline: MetricDict, latest: MetricDict, threshold: float = 0.10) -> DriftReportDict:
    """Fails an error metric that rises above (1 + threshold) * baseline, or RSquared below (1 - threshold) * baseline."""

def py_model_perf_lin_reg_rt_partial(baseline: MetricDict, latest: MetricDict, evaluation_metrics: Sequence[str], threshold: float = 0.10) -> DriftReportDict:
    """The linear-regression check on the listed metrics."""

def py_model_perf_log_reg_rt_full(baseline: MetricDict, latest: MetricDict, threshold: float = 0.10) -> DriftReportDict:
    """Fails a classification metric below (1 - threshold) * baseline, or LogLoss above (1 + threshold) * baseline."""

def py_model_perf_log_reg_rt_partial(baseline: MetricDict, latest: MetricDict, evaluation_metrics: Sequence[str], threshold: float = 0.10) -> DriftReportDict:
    """The logistic-regression check on the listed metrics."""
