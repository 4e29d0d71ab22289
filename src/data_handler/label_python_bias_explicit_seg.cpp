#include "data_handler/label_python_bias_explicit_seg.hpp"

#include <span>

#include "data_handler/py_types_handler.hpp"
#include "frame/convert.hpp"

namespace quorvant::data_handler {

namespace {

constexpr auto kConfigError = errors::BiasError::BiasConfigError;

std::expected<LabelSource, errors::BiasError> by_threshold(PyArrayObject* array, double threshold,
                                                      const std::string& threshold_type) {
    // The type is parsed after the array is read; reading a native buffer
    // cannot fail, so only the generic path has to come first.
    const std::optional<ThresholdType> type = parse_threshold_type(threshold_type);
    std::optional<LabelSource> out;
    const bool fast = visit_native(array, [&]<class T>(NativeValues<T> xs) {
        if (!type) return;
        const Comparison op = comparison_of(*type);
        out = LabelSource::view(xs.span().size(), [xs = std::move(xs), op, threshold](
                                                      std::size_t begin, std::size_t count, Label* labels) {
            label_compare_f64(xs.span().subspan(begin, count), op, threshold, labels);
        });
    });
    if (!fast) {
        const auto values = read_f64(array);
        if (!values) {
            PyErr_Clear();
            return std::unexpected(kConfigError);
        }
        if (type) {
            Labels labels(values->size());
            label_compare_f64(std::span<const double>(*values), comparison_of(*type), threshold, labels.data());
            out = LabelSource::owned(std::move(labels));
        }
    }
    if (!out) return std::unexpected(kConfigError);
    return std::move(*out);
}

std::expected<LabelSource, errors::BiasError> by_label(PyArrayObject* array, const std::string& label) {
    auto column = TextColumn::read(array);
    if (!column) {
        PyErr_Clear();
        return std::unexpected(kConfigError);
    }
    return std::move(*column).equal(label);
}

}  // namespace

std::expected<LabelSource, errors::BiasError> label_python_bias_explicit_seg(PyArrayObject* array,
                                                                        const std::optional<double>& threshold,
                                                                        const std::optional<std::string>& label,
                                                                        const std::optional<std::string>& threshold_type) {
    if (threshold) {
        if (label || !threshold_type) return std::unexpected(kConfigError);
        return by_threshold(array, *threshold, *threshold_type);
    }
    if (!label || threshold_type) return std::unexpected(kConfigError);
    return by_label(array, *label);
}

std::optional<ExplicitSegmentation> explicit_segmentation_args(PyObject* const* args, const char* const names[4]) {
    const auto array = frame::as_array(args[0], names[0]);
    if (!array) return std::nullopt;
    auto threshold = frame::to_optional_f64(args[1], names[1]);
    if (!threshold) return std::nullopt;
    auto label = frame::to_optional_string(args[2], names[2]);
    if (!label) return std::nullopt;
    auto type = frame::to_optional_string(args[3], names[3]);
    if (!type) return std::nullopt;
    return ExplicitSegmentation{*array, *threshold, std::move(*label), std::move(*type)};
}

}  // namespace quorvant::data_handler
