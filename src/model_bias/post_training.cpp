#include "model_bias/post_training.hpp"

#include "common/kernel.hpp"
#include "model_bias/statistics.hpp"

namespace quorvant::model_bias {

QUORVANT_KERNEL void PostTraining::accumulate_batch(std::span<const data_handler::Label> facet,
                                    std::span<const data_handler::Label> prediction,
                                    std::span<const data_handler::Label> truth) {
    // Sums of the labels and of their products give every combination by
    // inclusion and exclusion. Fixed blocks keep the 32-bit lane sums exact
    // and the loop vectorisable.
    constexpr std::size_t kBlock = 256;
    const std::size_t n = facet.size();
    const data_handler::Label* __restrict f = facet.data();
    const data_handler::Label* __restrict p = prediction.data();
    const data_handler::Label* __restrict g = truth.data();
    std::uint64_t sf = 0, sp = 0, sg = 0, sfp = 0, sfg = 0, spg = 0, sfpg = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        std::uint32_t bf = 0, bp = 0, bg = 0, bfp = 0, bfg = 0, bpg = 0, bfpg = 0;
        for (std::size_t j = 0; j < kBlock; ++j) {
            const std::uint32_t x = f[i + j], y = p[i + j], z = g[i + j];
            bf += x;
            bp += y;
            bg += z;
            bfp += x & y;
            bfg += x & z;
            bpg += y & z;
            bfpg += x & y & z;
        }
        sf += bf, sp += bp, sg += bg, sfp += bfp, sfg += bfg, spg += bpg, sfpg += bfpg;
    }
    for (; i < n; ++i) {
        const std::uint64_t x = f[i], y = p[i], z = g[i];
        sf += x, sp += y, sg += z, sfp += x & y, sfg += x & z, spg += y & z, sfpg += x & y & z;
    }
    accumulate_sums({sf, sp, sg, sfp, sfg, spg, sfpg}, n);
}

void PostTraining::accumulate_sums(const data_handler::TripleSums& s, std::uint64_t n) {
    // Every combination by inclusion and exclusion.
    rows[7] += s.fpg;
    rows[6] += s.fp - s.fpg;
    rows[5] += s.fg - s.fpg;
    rows[4] += s.f - s.fp - s.fg + s.fpg;
    rows[3] += s.pg - s.fpg;
    rows[2] += s.p - s.fp - s.pg + s.fpg;
    rows[1] += s.g - s.fg - s.pg + s.fpg;
    rows[0] += n - s.f - s.p - s.g + s.fp + s.fg + s.pg - s.fpg;
}

void PostTraining::accumulate_batch(const data_handler::LabelSource& facet,
                                    const data_handler::LabelSource& prediction,
                                    const data_handler::LabelSource& truth) {
    data_handler::for_each_chunk(
        [&](std::size_t n, const data_handler::Label* f, const data_handler::Label* p, const data_handler::Label* g) {
            accumulate_batch(std::span(f, n), std::span(p, n), std::span(g, n));
        },
        facet, prediction, truth);
}

std::expected<DiscretePostTraining, errors::BiasError> DiscretePostTraining::make(
    const data_handler::PackedLabels& facet, const data_handler::PackedLabels& prediction,
    const data_handler::PackedLabels& truth) {
    if (facet.size() == 0 || prediction.size() != facet.size() || truth.size() != facet.size()) {
        return std::unexpected(errors::BiasError::DataLengthError);
    }
    DiscretePostTraining record;
    record.counts.accumulate_sums(data_handler::triple_sums(facet, prediction, truth), facet.size());
    record.ge = statistics::generalized_entropy_sum(BucketGeneralizedEntropy::from(record.counts));
    return record;
}

}  // namespace quorvant::model_bias
