// Pre-training bias: the four per-facet counts and the seven metrics
// computed from them. Pure C++; the streaming monitor and the analyzers
// share this code.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "data_handler/label_source.hpp"
#include "data_handler/labeling.hpp"
#include "errors/errors.hpp"
#include "metrics/metrics.hpp"
#include "runtime/data_bias_runtime.hpp"

namespace quorvant::data_bias {

// Facet a is the named facet (facet label 1), facet d every other row.
// Exact counts, whatever the number of rows.
struct PreTrainingCounts {
    std::uint64_t positives_a = 0;
    std::uint64_t size_a = 0;
    std::uint64_t positives_d = 0;
    std::uint64_t size_d = 0;

    PreTrainingCounts& operator+=(const PreTrainingCounts& o) {
        positives_a += o.positives_a;
        size_a += o.size_a;
        positives_d += o.positives_d;
        size_d += o.size_d;
        return *this;
    }
    friend bool operator==(const PreTrainingCounts&, const PreTrainingCounts&) = default;
};

// Counts pairs of 0/1 labels; the two have equal length.
PreTrainingCounts count_pre_training(std::span<const data_handler::Label> facet,
                                     std::span<const data_handler::Label> truth);
PreTrainingCounts count_pre_training(const data_handler::LabelSource& facet, const data_handler::LabelSource& truth);

using DataBiasMap = metrics::MetricMap<metrics::DataBiasMetric>;

// The seven metrics in f32; EmptyDataVector when a facet size is 0.
std::expected<DataBiasMap, errors::ModelPerformanceError> pre_training_bias(const PreTrainingCounts& counts);

// The record of the seven metrics (the same formulas); a facet size of 0 is
// ModelPerformanceError carrying BiasError DataLengthError.
std::expected<runtime::DataBiasRuntime, errors::ModelPerformanceError> new_from_pre_training(
    const PreTrainingCounts& counts);

// The analyzers' core: label arrays of different lengths are
// DataLengthError (a misaligned column must not give a plausible answer);
// no rows, or a facet without rows, is NoFacetDeviation.
std::expected<DataBiasMap, errors::BiasError> data_bias_analysis_core(const data_handler::PackedLabels& facet,
                                                                      const data_handler::PackedLabels& truth);

}  // namespace quorvant::data_bias
