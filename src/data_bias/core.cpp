#include "data_bias/core.hpp"

#include <cmath>

#include "common/kernel.hpp"

namespace quorvant::data_bias {

using metrics::DataBiasMetric;

QUORVANT_KERNEL PreTrainingCounts count_pre_training(std::span<const data_handler::Label> facet,
                                     std::span<const data_handler::Label> truth) {
    // Labels are 0 or 1, so sums of labels and of their products are the
    // counts. Blocks of a fixed size keep 32-bit lane sums exact and give
    // the compiler a loop it vectorises.
    constexpr std::size_t kBlock = 256;
    const std::size_t n = facet.size();
    const data_handler::Label* __restrict f = facet.data();
    const data_handler::Label* __restrict g = truth.data();
    std::uint64_t sum_f = 0, sum_g = 0, sum_fg = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        std::uint32_t bf = 0, bg = 0, bfg = 0;
        for (std::size_t j = 0; j < kBlock; ++j) {
            bf += f[i + j];
            bg += g[i + j];
            bfg += f[i + j] & g[i + j];
        }
        sum_f += bf;
        sum_g += bg;
        sum_fg += bfg;
    }
    for (; i < n; ++i) {
        sum_f += f[i];
        sum_g += g[i];
        sum_fg += f[i] & g[i];
    }
    return {sum_fg, sum_f, sum_g - sum_fg, n - sum_f};
}

PreTrainingCounts count_pre_training(const data_handler::LabelSource& facet, const data_handler::LabelSource& truth) {
    PreTrainingCounts counts;
    data_handler::for_each_chunk(
        [&](std::size_t n, const data_handler::Label* f, const data_handler::Label* g) {
            counts += count_pre_training(std::span(f, n), std::span(g, n));
        },
        facet, truth);
    return counts;
}

namespace {

float to_f32(std::uint64_t v) { return static_cast<float>(v); }

// The seven values; facet sizes are non-zero. Every operation is f32, in
// the order written.
runtime::DataBiasRuntime values_of(const PreTrainingCounts& c) {
    runtime::DataBiasRuntime r;
    const float q_a = to_f32(c.positives_a) / to_f32(c.size_a);
    const float q_d = to_f32(c.positives_d) / to_f32(c.size_d);
    const float dpl = q_a - q_d;
    const float kl = q_a * std::log(q_a / q_d) + (1.0f - q_a) * std::log((1.0f - q_a) / (1.0f - q_d));
    const float m = (q_a + q_d) * 0.5f;
    const float js = 0.5f * ((q_a * std::log(q_a / m) + (1.0f - q_a) * std::log((1.0f - q_a) / (1.0f - m))) +
                             (q_d * std::log(q_d / m) + (1.0f - q_d) * std::log((1.0f - q_d) / (1.0f - m))));
    // The difference of the negative-label proportions, in this form.
    const float dn = (1.0f - q_a) + (q_d - 1.0f);
    r[DataBiasMetric::DifferenceInProportionOfLabels] = dpl;
    r[DataBiasMetric::KlDivergence] = kl;
    r[DataBiasMetric::JsDivergence] = js;
    r[DataBiasMetric::LpNorm] = std::sqrt(dpl * dpl + dn * dn);
    r[DataBiasMetric::TotalVariationDistance] = 0.5f * (std::fabs(dpl) + std::fabs(dn));
    // fmax takes the other operand when one is NaN.
    r[DataBiasMetric::KolmogorovSmirnov] = std::fmax(std::fabs(dn), std::fabs(dpl));
    return r;
}

float class_imbalance(const PreTrainingCounts& c) {
    // |n_a - n_d| as an exact integer, over the integer sum.
    const std::uint64_t diff = c.size_a >= c.size_d ? c.size_a - c.size_d : c.size_d - c.size_a;
    return to_f32(diff) / to_f32(c.size_a + c.size_d);
}

bool has_empty_facet(const PreTrainingCounts& c) { return c.size_a == 0 || c.size_d == 0; }

}  // namespace

std::expected<DataBiasMap, errors::ModelPerformanceError> pre_training_bias(const PreTrainingCounts& counts) {
    if (has_empty_facet(counts)) return std::unexpected(errors::kEmptyDataVector);
    runtime::DataBiasRuntime r = values_of(counts);
    r[DataBiasMetric::ClassImbalance] = class_imbalance(counts);
    return r.to_map();
}

std::expected<runtime::DataBiasRuntime, errors::ModelPerformanceError> new_from_pre_training(
    const PreTrainingCounts& counts) {
    if (has_empty_facet(counts)) {
        return std::unexpected(errors::ModelPerformanceError::carrying(errors::BiasError::DataLengthError));
    }
    runtime::DataBiasRuntime r = values_of(counts);
    r[DataBiasMetric::ClassImbalance] = class_imbalance(counts);
    return r;
}

std::expected<DataBiasMap, errors::BiasError> data_bias_analysis_core(const data_handler::PackedLabels& facet,
                                                                      const data_handler::PackedLabels& truth) {
    if (facet.size() != truth.size()) return std::unexpected(errors::BiasError::DataLengthError);
    const data_handler::PairSums sums = data_handler::pair_sums(facet, truth);
    const PreTrainingCounts counts{sums.ab, sums.a, sums.b - sums.ab, facet.size() - sums.a};
    if (has_empty_facet(counts)) return std::unexpected(errors::BiasError::NoFacetDeviation);
    const auto map = pre_training_bias(counts);
    if (!map) return std::unexpected(errors::BiasError::DataLengthError);
    return *map;
}

}  // namespace quorvant::data_bias
