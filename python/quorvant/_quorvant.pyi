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
