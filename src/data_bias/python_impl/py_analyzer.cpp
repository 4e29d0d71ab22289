// Python faces of the pre-training bias analyzers.
#include "data_bias/core.hpp"
#include "data_handler/py_labeling.hpp"
#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/gil.hpp"
#include "frame/numpy.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::data_bias::python_impl {

namespace {

using data_handler::PackedLabels;

// The counts and metrics over owned labels: large inputs run without the
// GIL.
PyObject* analyze(const PackedLabels& facet, const PackedLabels& truth) {
    const auto result = frame::run_core(facet.size(), [&] {
        return data_bias_analysis_core(facet,
                                       truth);
    });
    if (!result) return frame::raise(result.error());
    return reporting::report_to_py_dict(*result);
}

PyObject* analyzer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {
        {"feature_array"}, {"ground_truth_array"}, {"feature_label_or_threshold"}, {"ground_truth_label_or_threshold"}};
    frame::Args<4> a;
    if (!frame::extract("py_data_bias_analyzer", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto feature = frame::as_array(a[0], "feature_array");
    if (!feature) return nullptr;
    const auto truth = frame::as_array(a[1], "ground_truth_array");
    if (!truth) return nullptr;

    // Ground truth first, then the feature.
    auto truth_labels = data_handler::apply_label(*truth, a[3], "ground_truth_array");
    if (!truth_labels) return nullptr;
    auto facet_labels = data_handler::apply_label(*feature, a[2], "feature_array");
    if (!facet_labels) return nullptr;
    return analyze(*facet_labels, *truth_labels);
}

PyObject* analyzer_explicit_seg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {
        {"feature_array"},      {"feat_segmentation_threshold"}, {"feat_segmentation_label"}, {"feat_threshold_type"},
        {"ground_truth_array"}, {"gt_segmentation_threshold"},   {"gt_segmentation_label"},   {"gt_threshold_type"}};
    static constexpr const char* kFeature[4] = {"feature_array", "feat_segmentation_threshold",
                                                "feat_segmentation_label", "feat_threshold_type"};
    static constexpr const char* kTruth[4] = {"ground_truth_array", "gt_segmentation_threshold",
                                              "gt_segmentation_label", "gt_threshold_type"};
    frame::Args<8> a;
    if (!frame::extract("py_data_bias_analyzer_explicit_seg", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto feature = data_handler::explicit_segmentation_args(a.data(), kFeature);
    if (!feature) return nullptr;
    const auto truth = data_handler::explicit_segmentation_args(a.data() + 4, kTruth);
    if (!truth) return nullptr;

    // The feature first, then the ground truth.
    auto facet_labels = data_handler::label_python_bias_explicit_seg(feature->array, feature->params);
    if (!facet_labels) return frame::raise(facet_labels.error());
    auto truth_labels = data_handler::label_python_bias_explicit_seg(truth->array, truth->params);
    if (!truth_labels) return frame::raise(truth_labels.error());
    return analyze(*facet_labels, *truth_labels);
}

}  // namespace

}  // namespace quorvant::data_bias::python_impl

namespace quorvant::registry {

const PyMethodDef py_data_bias_analyzer = frame::function<data_bias::python_impl::analyzer>(
    "py_data_bias_analyzer",
    "py_data_bias_analyzer(feature_array, ground_truth_array, feature_label_or_threshold, "
    "ground_truth_label_or_threshold)\n--\n\nMethod to perform data bias analysis");

const PyMethodDef py_data_bias_analyzer_explicit_seg = frame::function<data_bias::python_impl::analyzer_explicit_seg>(
    "py_data_bias_analyzer_explicit_seg",
    "py_data_bias_analyzer_explicit_seg(feature_array, feat_segmentation_threshold, feat_segmentation_label, "
    "feat_threshold_type, ground_truth_array, gt_segmentation_threshold, gt_segmentation_label, "
    "gt_threshold_type)\n--\n\n");

}  // namespace quorvant::registry
