// Python faces of the post-training bias analyzers.
#include "data_handler/py_labeling.hpp"
#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/gil.hpp"
#include "frame/numpy.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "model_bias/core.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::model_bias::python_impl {

namespace {

using data_handler::PackedLabels;

// The counts and metrics over owned labels: large inputs run without the
// GIL.
PyObject* analyze(const PackedLabels& facet, const PackedLabels& prediction, const PackedLabels& truth) {
    const auto result = frame::run_core(facet.size(), [&]() -> std::expected<ModelBiasMap, errors::BiasError> {
        const auto record = DiscretePostTraining::make(facet,
                                                       prediction,
                                                       truth);
        if (!record) return std::unexpected(record.error());
        return post_training_bias(*record);
    });
    if (!result) return frame::raise(result.error());
    return reporting::report_to_py_dict(*result);
}

PyObject* analyzer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {
        {"feature_array"},
        {"ground_truth_array"},
        {"prediction_array"},
        {"feature_label_or_threshold"},
        {"ground_truth_label_or_threshold"},
        {"prediction_label_or_threshold"},
    };
    frame::Args<6> a;
    if (!frame::extract("py_model_bias_analyzer", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto feature = frame::as_array(a[0], "feature_array");
    if (!feature) return nullptr;
    const auto truth = frame::as_array(a[1], "ground_truth_array");
    if (!truth) return nullptr;
    const auto prediction = frame::as_array(a[2], "prediction_array");
    if (!prediction) return nullptr;

    // Prediction, then ground truth, then the feature.
    auto prediction_labels = data_handler::apply_label(*prediction, a[5], "prediction_array");
    if (!prediction_labels) return nullptr;
    auto truth_labels = data_handler::apply_label(*truth, a[4], "ground_truth_array");
    if (!truth_labels) return nullptr;
    auto facet_labels = data_handler::apply_label(*feature, a[3], "feature_array");
    if (!facet_labels) return nullptr;
    return analyze(*facet_labels, *prediction_labels, *truth_labels);
}

PyObject* analyzer_explicit_seg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {
        {"feature_array"},    {"feat_segmentation_threshold"}, {"feat_segmentation_label"}, {"feat_threshold_type"},
        {"ground_truth_array"}, {"gt_segmentation_threshold"},  {"gt_segmentation_label"},   {"gt_threshold_type"},
        {"prediction_array"}, {"pred_segmentation_threshold"}, {"pred_segmentation_label"}, {"pred_threshold_type"},
    };
    static constexpr const char* kFeature[4] = {"feature_array", "feat_segmentation_threshold",
                                                "feat_segmentation_label", "feat_threshold_type"};
    static constexpr const char* kTruth[4] = {"ground_truth_array", "gt_segmentation_threshold",
                                              "gt_segmentation_label", "gt_threshold_type"};
    static constexpr const char* kPrediction[4] = {"prediction_array", "pred_segmentation_threshold",
                                                   "pred_segmentation_label", "pred_threshold_type"};
    frame::Args<12> a;
    if (!frame::extract("py_model_bias_analyzer_explicit_seg", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto feature = data_handler::explicit_segmentation_args(a.data(), kFeature);
    if (!feature) return nullptr;
    const auto truth = data_handler::explicit_segmentation_args(a.data() + 4, kTruth);
    if (!truth) return nullptr;
    const auto prediction = data_handler::explicit_segmentation_args(a.data() + 8, kPrediction);
    if (!prediction) return nullptr;

    // Feature, then ground truth, then prediction.
    auto facet_labels = data_handler::label_python_bias_explicit_seg(feature->array, feature->params);
    if (!facet_labels) return frame::raise(facet_labels.error());
    auto truth_labels = data_handler::label_python_bias_explicit_seg(truth->array, truth->params);
    if (!truth_labels) return frame::raise(truth_labels.error());
    auto prediction_labels = data_handler::label_python_bias_explicit_seg(prediction->array, prediction->params);
    if (!prediction_labels) return frame::raise(prediction_labels.error());
    return analyze(*facet_labels, *prediction_labels, *truth_labels);
}

}  // namespace

}  // namespace quorvant::model_bias::python_impl

namespace quorvant::registry {

const PyMethodDef py_model_bias_analyzer = frame::function<model_bias::python_impl::analyzer>(
    "py_model_bias_analyzer",
    "py_model_bias_analyzer(feature_array, ground_truth_array, prediction_array, feature_label_or_threshold, "
    "ground_truth_label_or_threshold, prediction_label_or_threshold)\n--\n\n");

const PyMethodDef py_model_bias_analyzer_explicit_seg = frame::function<model_bias::python_impl::analyzer_explicit_seg>(
    "py_model_bias_analyzer_explicit_seg",
    "py_model_bias_analyzer_explicit_seg(feature_array, feat_segmentation_threshold, feat_segmentation_label, "
    "feat_threshold_type, ground_truth_array, gt_segmentation_threshold, gt_segmentation_label, "
    "gt_threshold_type, prediction_array, pred_segmentation_threshold, pred_segmentation_label, "
    "pred_threshold_type)\n--\n\n");

}  // namespace quorvant::registry
