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

# Data bias

def py_data_bias_analyzer(
    feature_array: npt.NDArray[np.generic],
    ground_truth_array: npt.NDArray[np.generic],
    feature_label_or_threshold: object,
    ground_truth_label_or_threshold: object,
) -> MetricDict:
    """Method to perform data bias analysis"""

def py_data_bias_analyzer_explicit_seg(
    feature_array: npt.NDArray[np.generic],
    feat_segmentation_threshold: float | None,
    feat_segmentation_label: str | None,
    feat_threshold_type: str | None,
    ground_truth_array: npt.NDArray[np.generic],
    gt_segmentation_threshold: float | None,
    gt_segmentation_label: str | None,
    gt_threshold_type: str | None,
) -> MetricDict:
    """The seven pre-training bias metrics, each array segmented by a threshold with its threshold type
    ("GreaterThan", "GreaterThanEqualTo", "LessThan", "LessThanEqualTo") or by a label."""

# Model bias

def py_model_bias_analyzer(
    feature_array: npt.NDArray[np.generic],
    ground_truth_array: npt.NDArray[np.generic],
    prediction_array: npt.NDArray[np.generic],
    feature_label_or_threshold: object,
    ground_truth_label_or_threshold: object,
    prediction_label_or_threshold: object,
) -> MetricDict:
    """The twelve post-training bias metrics of a model's predictions across a facet; each value is a label
    (discrete arrays) or a threshold met by element >= value (continuous arrays)."""

def py_model_bias_analyzer_explicit_seg(
    feature_array: npt.NDArray[np.generic],
    feat_segmentation_threshold: float | None,
    feat_segmentation_label: str | None,
    feat_threshold_type: str | None,
    ground_truth_array: npt.NDArray[np.generic],
    gt_segmentation_threshold: float | None,
    gt_segmentation_label: str | None,
    gt_threshold_type: str | None,
    prediction_array: npt.NDArray[np.generic],
    pred_segmentation_threshold: float | None,
    pred_segmentation_label: str | None,
    pred_threshold_type: str | None,
) -> MetricDict:
    """The twelve post-training bias metrics with explicit segmentation of each array."""

# Streaming bias monitors. Rows are already labeled: a value of 1 is facet 1 (or a positive), any other
# value in -128..127 is not.

IntRows = Sequence[int] | npt.NDArray[np.integer]

class PyDataBiasStreaming:
    """PyDataBiasStreaming(feature_data, gt_data): a baseline of the seven pre-training metrics and
    constant-memory counts of the rows pushed since."""

    def __init__(self, feature_data: IntRows, gt_data: IntRows) -> None: ...
    def push(self, f: int, g: int) -> None:
        """Counts one row."""
    def push_batch(self, f: IntRows, g: IntRows) -> None:
        """Counts equally long, non-empty batches of rows."""
    def flush(self) -> None:
        """Forgets the rows pushed; the baseline stays."""
    def reset_baseline(self, f: IntRows, g: IntRows) -> None:
        """Replaces the baseline and forgets the rows pushed."""
    def drift_snapshot(self) -> MetricDict:
        """Relative drift |current - baseline| / max(|baseline|, eps) of each metric."""
    def performance_snapshot(self) -> MetricDict:
        """The seven metrics of the rows pushed."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """Metrics whose relative drift is at least drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""

class PyModelBiasStreaming:
    """PyModelBiasStreaming(features, predictions, ground_truth): a baseline of the twelve post-training
    metrics and constant-memory counts of the rows pushed since."""

    def __init__(self, features: IntRows, predictions: IntRows, ground_truth: IntRows) -> None: ...
    def push(self, feature: int, pred: int, gt: int) -> None:
        """Counts one row."""
    def push_batch(self, feature: IntRows, pred: IntRows, gt: IntRows) -> None:
        """Counts equally long, non-empty batches of rows."""
    def flush(self) -> None:
        """Forgets the rows pushed; the baseline stays."""
    def reset_baseline(self, feature: IntRows, pred: IntRows, gt: IntRows) -> None:
        """Replaces the baseline; the rows pushed stay."""
    def drift_snapshot(self) -> MetricDict:
        """Relative drift |(current - baseline) / baseline| of each metric."""
    def performance_snapshot(self) -> MetricDict:
        """The twelve metrics of the rows pushed."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """Metrics whose relative drift is at least drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""
