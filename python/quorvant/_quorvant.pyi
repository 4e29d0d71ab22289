"""Type stubs of the native extension module."""

from typing import Mapping, Sequence

import numpy as np
import numpy.typing as npt

MetricDict = dict[str, float]
DriftReportDict = dict[str, object]
# Categorical labels: str objects, or a 1-D NumPy str array (read natively).
Labels = Sequence[str] | npt.NDArray[np.str_]

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
# Data drift
#
# Drift type names: "JensenShannon", "PopulationStabilityIndex", "WassersteinDistance",
# "KullbackLeibler". Bin rules (quantile types): "FreedmanDiaconis" (the default, for None),
# "Scott", "Sturges".
def py_compute_drift_categorical_distribtuion(
    baseline: Labels, candidate: Labels, drift_metrics: Sequence[str]
) -> list[float]:
    """Scores of the candidate labels against the baseline labels, one per name in drift_metrics,
    in order. Labels unknown to the baseline count in one extra bin."""
def py_compute_drift_continuous_distribtuion(
    baseline: npt.NDArray[np.float64],
    candidate: npt.NDArray[np.float64],
    drift_metrics: Sequence[str],
    quantile_type: str | None,
) -> list[float]:
    """Scores of the candidate values against a histogram of the baseline values (contiguous 1-D
    float64 arrays; the bin count follows from the rule), one per name in drift_metrics, in order."""
class PyCategoricalDataDrift:
    """Batch categorical data drift detector. Computes drift metrics between a fixed
    baseline label distribution and a runtime label slice on each call."""
    def __init__(self, baseline_data: Labels) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyCategoricalDataDrift":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyCategoricalDataDrift": ...
    def __deepcopy__(self, memo: object) -> "PyCategoricalDataDrift": ...
    def compute_drift(self, runtime_data: Labels, drift_type: str) -> float:
        """One score of the runtime labels against the baseline."""
    def compute_drift_mutliple_criteria(self, runtime_data: Labels, drift_types: Sequence[str]) -> list[float]:
        """One score per name, in order, from one count of the runtime labels."""
    def reset_baseline(self, new_baseline: Labels) -> None:
        """Replace the baseline with a new set of labels, recomputing the distribution."""
    def export_baseline(self) -> dict[str, float]:
        """Return the baseline label frequencies as a normalized distribution."""
    @property
    def num_bins(self) -> int:
        """Distinct baseline labels plus one bin for unseen labels."""
class PyContinuousDataDrift:
    """Batch continuous data drift detector. Computes drift metrics between a fixed
    baseline histogram and a runtime data slice on each call."""
    def __init__(self, baseline_data: npt.NDArray[np.float64], quantile_type_str: str | None) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyContinuousDataDrift":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyContinuousDataDrift": ...
    def __deepcopy__(self, memo: object) -> "PyContinuousDataDrift": ...
    def compute_drift(self, runtime_data: npt.NDArray[np.float64], drift_type: str) -> float:
        """One score of the runtime values against the baseline histogram."""
    def compute_drift_mutliple_criteria(
        self, runtime_data: npt.NDArray[np.float64], drift_types: Sequence[str]
    ) -> list[float]:
        """One score per name, in order, from one histogram of the runtime values."""
    def reset_baseline(self, baseline_data: npt.NDArray[np.float64]) -> None:
        """Replace the baseline with a new data slice, recomputing the histogram."""
    def export_baseline(self) -> list[float]:
        """Return the baseline as a normalized probability distribution (sums to 1.0)."""
    @property
    def num_bins(self) -> int:
        """Number of histogram bins used for this baseline."""
class PyStreamingContinuousDataDriftFlush:
    """Streaming continuous data drift detector in flush mode. Accumulates runtime
    samples and resets accumulated bins on each flush (every flush_rate samples, default
    1,000,000, or every flush_cadence seconds, default 86,400, checked every 256 samples)."""
    def __init__(
        self,
        baseline_data: npt.NDArray[np.float64],
        quantile_type_str: str | None,
        flush_rate_opt: int | None,
        flush_cadence_opt: int | None,
    ) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyStreamingContinuousDataDriftFlush":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyStreamingContinuousDataDriftFlush": ...
    def __deepcopy__(self, memo: object) -> "PyStreamingContinuousDataDriftFlush": ...
    def merge(self, other: "PyStreamingContinuousDataDriftFlush") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def compute_drift(self, drift_type: str) -> float:
        """One score of the stream against the baseline (never flushes)."""
    def compute_drift_multiple_criteria(self, drift_types: Sequence[str]) -> list[float]:
        """One score per name, in order."""
    def reset_baseline(self, baseline_data: npt.NDArray[np.float64]) -> None:
        """Replace the baseline distribution with a new data slice and clear the stream."""
    def update_stream_batch(self, runtime_data: npt.NDArray[np.float64]) -> None:
        """Add a batch of runtime samples to the stream buffer."""
    def update_stream(self, runtime_example: float) -> None:
        """Add a single runtime sample to the stream buffer."""
    def export_snapshot(self) -> dict[str, list[float]]:
        """{"binEdges", "baselineBins", "streamBins"}: edges, baseline shares, normalised stream."""
    def export_baseline(self) -> list[float]:
        """Return the baseline as a normalized probability distribution (sums to 1.0)."""
    def flush(self) -> None:
        """Flush the stream, resetting accumulated runtime bins."""
    @property
    def total_samples(self) -> int:
        """Total number of runtime samples accumulated since the last flush."""
    @property
    def n_bins(self) -> int:
        """Number of histogram bins."""
    @property
    def last_flush(self) -> int:
        """Whole seconds elapsed since the last flush, on the monotonic clock."""
class PyStreamingContinuousDataDriftDecay:
    """Streaming continuous data drift detector in decay mode. Applies exponential
    decay to accumulated runtime bins on each drift computation, giving more weight
    to recent samples (half-life decay_opt in drift computations, default 86,400)."""
    def __init__(
        self, baseline_data: npt.NDArray[np.float64], quantile_type_str: str | None, decay_opt: int | None
    ) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyStreamingContinuousDataDriftDecay":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyStreamingContinuousDataDriftDecay": ...
    def __deepcopy__(self, memo: object) -> "PyStreamingContinuousDataDriftDecay": ...
    def merge(self, other: "PyStreamingContinuousDataDriftDecay") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def compute_drift(self, drift_type: str) -> float:
        """Apply decay to stream bins and compute a single drift metric."""
    def compute_drift_multiple_criteria(self, drift_types: Sequence[str]) -> list[float]:
        """Apply decay once and compute one score per name, in order."""
    def reset_baseline(self, baseline_data: npt.NDArray[np.float64]) -> None:
        """Replace the baseline distribution with a new data slice and clear the stream."""
    def update_stream_batch(self, runtime_data: npt.NDArray[np.float64]) -> None:
        """Add a batch of runtime samples to the stream buffer."""
    def update_stream(self, runtime_example: float) -> None:
        """Add a single runtime sample to the stream buffer."""
    def export_snapshot(self) -> dict[str, list[float]]:
        """{"binEdges", "baselineBins", "streamBins"}: edges, baseline shares, normalised stream."""
    def export_baseline(self) -> list[float]:
        """Return the baseline as a normalized probability distribution (sums to 1.0)."""
    @property
    def total_samples(self) -> int:
        """Effective sample count after decay weighting."""
    @property
    def n_bins(self) -> int:
        """Number of histogram bins."""
class PyStreamingCategoricalDataDriftFlush:
    """Streaming categorical data drift detector in flush mode. Accumulates runtime
    label counts and resets accumulated bins on each flush."""
    def __init__(self, baseline_data: Labels, flush_rate: int | None, flush_cadence: int | None) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyStreamingCategoricalDataDriftFlush":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyStreamingCategoricalDataDriftFlush": ...
    def __deepcopy__(self, memo: object) -> "PyStreamingCategoricalDataDriftFlush": ...
    def merge(self, other: "PyStreamingCategoricalDataDriftFlush") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def compute_drift(self, drift_type: str) -> float:
        """One score of the stream against the baseline (never flushes)."""
    def compute_drift_multiple_criteria(self, drift_types: Sequence[str]) -> list[float]:
        """One score per name, in order."""
    def reset_baseline(self, new_baseline: Labels) -> None:
        """Replace the baseline distribution with a new set of labels and clear the stream."""
    def update_stream_batch(self, runtime_data: Labels) -> None:
        """Add a batch of runtime labels to the stream buffer."""
    def update_stream(self, runtime_example: str) -> None:
        """Add a single runtime label to the stream buffer."""
    def export_snapshot(self) -> dict[str, float]:
        """The current count of each baseline label (unseen labels are not listed)."""
    def export_baseline(self) -> dict[str, float]:
        """Return the baseline label frequencies as a normalized distribution."""
    def flush(self) -> None:
        """Flush the stream, resetting accumulated runtime label counts."""
    @property
    def total_samples(self) -> int:
        """Total number of runtime samples accumulated since the last flush."""
    @property
    def n_bins(self) -> int:
        """Number of distinct label bins."""
    @property
    def last_flush(self) -> int:
        """Whole seconds elapsed since the last flush, on the monotonic clock."""
class PyStreamingCategoricalDataDriftDecay:
    """Streaming categorical data drift detector in decay mode. Applies exponential
    decay to accumulated label counts on each drift computation, giving more weight
    to recent samples."""
    def __init__(self, baseline_data: Labels, half_life_opt: int | None) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyStreamingCategoricalDataDriftDecay":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyStreamingCategoricalDataDriftDecay": ...
    def __deepcopy__(self, memo: object) -> "PyStreamingCategoricalDataDriftDecay": ...
    def merge(self, other: "PyStreamingCategoricalDataDriftDecay") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def compute_drift(self, drift_type: str) -> float:
        """Apply decay to stream bins and compute a single drift metric."""
    def compute_drift_multiple_criteria(self, drift_types: Sequence[str]) -> list[float]:
        """Apply decay once and compute one score per name, in order."""
    def reset_baseline(self, new_baseline: Labels) -> None:
        """Replace the baseline distribution with a new set of labels and clear the stream."""
    def update_stream_batch(self, runtime_data: Labels) -> None:
        """Add a batch of runtime labels to the stream buffer."""
    def update_stream(self, runtime_example: str) -> None:
        """Add a single runtime label to the stream buffer."""
    def export_snapshot(self) -> dict[str, float]:
        """The current (decayed) weight of each baseline label."""
    def export_baseline(self) -> dict[str, float]:
        """Return the baseline label frequencies as a normalized distribution."""
    @property
    def total_samples(self) -> int:
        """Effective sample count after decay weighting."""
    @property
    def n_bins(self) -> int:
        """Number of distinct label bins."""
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
def py_model_perf_classification(y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic]) -> MetricDict:
    """Seven confusion-matrix metrics (values equal to 1 are positive): BalancedAccuracy, PrecisionPositive,
    PrecisionNegative, RecallPositive, RecallNegative, Accuracy, F1Score."""

def py_model_perf_logistic_regression(
    y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic], threshold: float
) -> MetricDict:
    """The seven confusion-matrix metrics with truths and scores positive at >= threshold, plus LogLoss."""

FloatSequence = Sequence[float] | npt.NDArray[np.generic]
IntSequence = Sequence[int] | npt.NDArray[np.integer]

class PyBinaryClassificationStreaming:
    """Streaming classification monitor: a baseline from (y_true, y_pred) of 32-bit integer labels (1 is
    positive), exact running confusion counts of production pairs, metrics and drift (baseline - current)."""

    def __init__(self, y_true: IntSequence, y_pred: IntSequence) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyBinaryClassificationStreaming":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyBinaryClassificationStreaming": ...
    def __deepcopy__(self, memo: object) -> "PyBinaryClassificationStreaming": ...
    def merge(self, other: "PyBinaryClassificationStreaming") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def push(self, y_true: int, y_pred: int) -> None:
        """Counts one pair."""
    def push_batch(self, y_true: IntSequence, y_pred: IntSequence) -> None:
        """Counts the pairs of two equal-length sequences (an empty batch changes nothing)."""
    def flush(self) -> None:
        """Empties the running counts."""
    def reset_baseline(self, y_true: IntSequence, y_pred: IntSequence) -> None:
        """Replaces the baseline and empties the running counts."""
    def performance_snapshot(self) -> MetricDict:
        """The seven current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """Baseline minus current, per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""

class PyLinearRegressionStreaming:
    """Streaming regression monitor: a baseline from (y_true, y_pred), running f64 error sums of production
    pairs, the eight metrics and their drift (absolute difference from the baseline)."""

    def __init__(self, y_true: FloatSequence, y_pred: FloatSequence) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyLinearRegressionStreaming":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyLinearRegressionStreaming": ...
    def __deepcopy__(self, memo: object) -> "PyLinearRegressionStreaming": ...
    def merge(self, other: "PyLinearRegressionStreaming") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def push(self, t: float, p: float) -> None:
        """Adds one pair."""
    def push_batch(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Adds the pairs of two equal-length, non-empty sequences."""
    def flush(self) -> None:
        """Empties the running sums."""
    def reset_baseline(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Replaces the baseline; the running sums are kept."""
    def performance_snapshot(self) -> MetricDict:
        """The eight current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """abs(baseline - current), per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""

class PyLogisticRegressionStreaming:
    """Streaming logistic-regression monitor: a baseline from (y_true, y_pred, threshold), exact running counts
    (truth positive when exactly 1, score positive at >= threshold), the running log loss, metrics and drift
    (baseline - current)."""

    def __init__(self, y_true: FloatSequence, y_pred: FloatSequence, threshold: float) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyLogisticRegressionStreaming":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyLogisticRegressionStreaming": ...
    def __deepcopy__(self, memo: object) -> "PyLogisticRegressionStreaming": ...
    def merge(self, other: "PyLogisticRegressionStreaming") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
    def push(self, y_true: float, y_pred: float) -> None:
        """Adds one pair."""
    def push_batch(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Adds the pairs of two equal-length, non-empty sequences."""
    def flush(self) -> None:
        """Empties the running counts and log-loss sum."""
    def reset_baseline(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Replaces the baseline, computed with the current decision threshold."""
    def reset_baseline_and_decision_threshold(self, y_true: FloatSequence, y_pred: FloatSequence, threshold: float) -> None:
        """Replaces the baseline and the decision threshold (neither changes when the call fails)."""
    def performance_snapshot(self) -> MetricDict:
        """The eight current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """Baseline minus current, per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""


# Streaming bias monitors. Rows are already labeled: a value of 1 is facet 1 (or a positive), any other
# value in -128..127 is not.

IntRows = Sequence[int] | npt.NDArray[np.integer]

class PyDataBiasStreaming:
    """PyDataBiasStreaming(feature_data, gt_data): a baseline of the seven pre-training metrics and
    constant-memory counts of the rows pushed since."""

    def __init__(self, feature_data: IntRows, gt_data: IntRows) -> None: ...
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyDataBiasStreaming":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyDataBiasStreaming": ...
    def __deepcopy__(self, memo: object) -> "PyDataBiasStreaming": ...
    def merge(self, other: "PyDataBiasStreaming") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
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
    # State that travels (docs/state.md, docs/state-format.md).
    def to_state(self) -> bytes:
        """The whole state as a versioned, checksummed payload that from_state() loads."""
    @classmethod
    def from_state(cls, data: bytes | bytearray | memoryview) -> "PyModelBiasStreaming":
        """An object from to_state() bytes; anything else raises ValueError saying why."""
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...
    def __copy__(self) -> "PyModelBiasStreaming": ...
    def __deepcopy__(self, memo: object) -> "PyModelBiasStreaming": ...
    def merge(self, other: "PyModelBiasStreaming") -> None:
        """Adds what `other` has accumulated (counts exactly, float sums in one addition each)."""
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
