// The binding's steps around the categorical drift cores, over label views:
// a baseline from its distinct labels, runtime labels as bin counts, and a
// streaming batch as a plan and its commit. Labels go in small chunks, so
// the counters' chunk boundaries are crossed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "drift/baseline.hpp"
#include "drift/data_drift.hpp"
#include "drift/label_index.hpp"

namespace fuzz {

inline constexpr std::size_t kLabelChunk = 7;

template <class F>
void in_chunks(std::span<const std::string_view> labels, F&& f) {
    for (std::size_t i = 0; i < labels.size(); i += kLabelChunk) {
        f(labels.subspan(i, std::min(kLabelChunk, labels.size() - i)));
    }
}

inline std::expected<quorvant::drift::BaselineCategoricalBins, quorvant::errors::DriftError> baseline_of(
    std::span<const std::string_view> labels) {
    quorvant::drift::DistinctCounter distinct(labels.size());
    in_chunks(labels, [&](auto chunk) { distinct.add(chunk); });
    return quorvant::drift::BaselineCategoricalBins::create(std::move(distinct).take(), labels.size());
}

// The bin counts of labels [begin, end).
inline std::vector<std::uint64_t> counts_of(const quorvant::drift::BaselineCategoricalBins& baseline,
                                            std::span<const std::string_view> labels, std::size_t begin = 0) {
    std::vector<std::uint64_t> counts(baseline.baseline_hist().size(), 0);
    quorvant::drift::BaselineCategoricalBins::Counter counter(baseline, labels.size() - begin);
    in_chunks(labels.subspan(begin), [&](auto chunk) { counter.add(chunk, counts); });
    return counts;
}

template <class Mode>
std::expected<void, quorvant::errors::DriftError> push_labels(quorvant::drift::StreamingCategoricalDataDrift<Mode>& d,
                                                              std::span<const std::string_view> labels) {
    const auto plan = d.plan_batch(labels.size());
    if (!plan) return std::unexpected(plan.error());
    d.commit_batch(*plan, counts_of(d.baseline(), labels, plan->start));
    return {};
}

template <class Detector>
std::expected<void, quorvant::errors::DriftError> reset_labels(Detector& d, std::span<const std::string_view> labels) {
    auto b = baseline_of(labels);
    if (!b) return std::unexpected(b.error());
    d.reset_baseline(std::move(*b));
    return {};
}

}  // namespace fuzz
