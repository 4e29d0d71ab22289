// Performance metric cores: confusion counting over columns of every
// element type and stride, the logistic pass (counts and the log-loss sum
// in index order), the regression sums, and the three streaming monitors.
// Oracles: a scalar loop reading each element on its own, split batches
// against one batch, one-by-one pushes against batch pushes, and metrics
// that stay in [0, 1] (or NaN).
#include <cstring>
#include <vector>

#include "data_handler/confusion_matrix.hpp"
#include "fuzz_common.hpp"
#include "model_perf/classification.hpp"
#include "model_perf/linear_regression.hpp"
#include "model_perf/perf_kernels.hpp"
#include "model_perf/streaming/binary_classification_streaming.hpp"
#include "model_perf/streaming/linear_regression_streaming.hpp"
#include "model_perf/streaming/logistic_regression_streaming.hpp"

using namespace quorvant;
using namespace quorvant::model_perf;
using data_handler::ConfusionMatrix;

namespace {

constexpr std::size_t kWidth[] = {8, 4, 8, 4, 2, 1, 8, 4, 2, 1, 1};

// A column over fuzzed bytes: any element type, any stride (negative ones
// start at the last element).
struct OwnedColumn {
    std::vector<char> bytes;
    Column col;
};

OwnedColumn make_column(fuzz::Input& in, std::size_t n, ElementType type) {
    const std::size_t w = kWidth[static_cast<int>(type)];
    const std::size_t gap = in.integral<std::size_t>(0, 3);
    const std::size_t step = w + gap;
    OwnedColumn c;
    c.bytes.resize(n * step + 1);
    for (char& b : c.bytes) b = static_cast<char>(in.byte());
    // Floats: mostly small values, so truths and predictions hit 1.0.
    for (std::size_t i = 0; i < n; ++i) {
        char* p = c.bytes.data() + i * step;
        if (type == ElementType::F64 && in.flag()) {
            const double v = in.real();
            std::memcpy(p, &v, 8);
        } else if (type == ElementType::F32 && in.flag()) {
            const float v = in.real32();
            std::memcpy(p, &v, 4);
        }
    }
    const bool reverse = in.flag();
    const auto s = static_cast<std::ptrdiff_t>(step);
    c.col = Column{c.bytes.data() + (reverse && n > 0 ? (n - 1) * step : 0), reverse ? -s : s, n, type};
    return c;
}

// The float protocol's value of element i narrowed to f32, read alone.
float element(const Column& c, std::size_t i) {
    const char* p = c.data + static_cast<std::ptrdiff_t>(i) * c.stride;
    auto as = [&]<class T>() {
        T v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<float>(static_cast<double>(v));
    };
    switch (c.type) {
        case ElementType::F64: return as.operator()<double>();
        case ElementType::F32: return as.operator()<float>();
        case ElementType::I64: return as.operator()<std::int64_t>();
        case ElementType::I32: return as.operator()<std::int32_t>();
        case ElementType::I16: return as.operator()<std::int16_t>();
        case ElementType::I8: return as.operator()<std::int8_t>();
        case ElementType::U64: return as.operator()<std::uint64_t>();
        case ElementType::U32: return as.operator()<std::uint32_t>();
        case ElementType::U16: return as.operator()<std::uint16_t>();
        case ElementType::U8: return as.operator()<std::uint8_t>();
        case ElementType::Bool: return *p != 0 ? 1.0f : 0.0f;
    }
    return 0.0f;
}

bool same_counts(const ConfusionMatrix& a, const ConfusionMatrix& b) {
    return a.true_pos == b.true_pos && a.false_pos == b.false_pos && a.true_neg == b.true_neg &&
           a.false_neg == b.false_neg;
}

template <class Record>
bool same_record(const Record& a, const Record& b) {
    return fuzz::same<float>(a.values, b.values);
}

template <class Record>
void check_unit_range(const Record& r, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const float v = r.values[i];
        FUZZ_CHECK(v != v || (v >= 0.0f && v <= 1.0f));
    }
}

void fuzz_confusion(fuzz::Input& in) {
    const std::size_t n = in.size(300);
    const auto t_type = static_cast<ElementType>(in.integral<int>(0, 10));
    const auto p_type = static_cast<ElementType>(in.integral<int>(0, 10));
    const OwnedColumn yt = make_column(in, n, t_type);
    const OwnedColumn yp = make_column(in, in.flag() ? n : in.size(300), p_type);
    const float label = in.flag() ? 1.0f : in.real32();

    // Counts add to what is there already.
    ConfusionMatrix got;
    got.true_pos = in.integral<std::uint64_t>(0, 5);
    const ConfusionMatrix before = got;
    const auto r = got.push_dataset(yt.col, yp.col, label);
    if (yt.col.size != yp.col.size) {
        FUZZ_CHECK(!r && same_counts(got, before));
        return;
    }
    FUZZ_CHECK(r.has_value());
    ConfusionMatrix fresh;
    for (std::size_t i = 0; i < n; ++i) fresh.push(element(yt.col, i) == label, element(yp.col, i) == label);
    ConfusionMatrix want = fresh;
    want.true_pos += before.true_pos;
    FUZZ_CHECK(same_counts(got, want));

    const auto m = classification_metrics(fresh);
    check_unit_range(m, 7);
    const auto batch = binary_classification_runtime(yt.col, yp.col);
    FUZZ_CHECK(batch.has_value());
    if (label == 1.0f) FUZZ_CHECK(same_record(*batch, m));
}

void fuzz_logistic(fuzz::Input& in) {
    const std::size_t n = in.size(300);
    const OwnedColumn yt = make_column(in, n, static_cast<ElementType>(in.integral<int>(0, 10)));
    const OwnedColumn yp = make_column(in, n, static_cast<ElementType>(in.integral<int>(0, 10)));
    const float threshold = in.flag() ? 0.5f : in.real32();
    const auto truth = in.flag() ? TruthRule::EqualsOne : TruthRule::AtLeastThreshold;
    const auto bounds = clamp_bounds(1e-12);
    FUZZ_CHECK(bounds.has_value());
    const LogisticRule rule{threshold, truth, *bounds};

    ConfusionMatrix got;
    double sum = 0.0;
    logistic_pass(yt.col, yp.col, rule, got, sum);
    ConfusionMatrix want;
    double want_sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const float t = element(yt.col, i), p = element(yp.col, i);
        want.push(truth == TruthRule::EqualsOne ? t == 1.0f : t >= threshold, p >= threshold);
        want_sum += static_cast<double>(log_loss_term(t, p, *bounds));
    }
    FUZZ_CHECK(same_counts(got, want));
    FUZZ_CHECK(fuzz::same(sum, want_sum));

    const auto batch = logistic_regression_runtime(yt.col, yp.col, threshold);
    if (!batch) {
        FUZZ_CHECK(n == 0 || std::isnan(static_cast<float>(-want_sum / static_cast<double>(n))));
        return;
    }
    check_unit_range(*batch, 7);
}

void fuzz_regression(fuzz::Input& in) {
    const std::size_t n = in.size(300);
    std::vector<float> yt(n), yp(n);
    for (std::size_t i = 0; i < n; ++i) {
        yt[i] = in.real32();
        yp[i] = in.real32();
    }
    // Pushed in pieces or at once: the same sums (one in-order chain each).
    LinearRegressionErrorBuckets whole, pieces;
    whole.push(yt, yp);
    std::size_t at = 0;
    while (at < n) {
        const std::size_t k = in.integral<std::size_t>(1, n - at);
        pieces.push(std::span<const float>(yt).subspan(at, k), std::span<const float>(yp).subspan(at, k));
        at += k;
    }
    const double a[] = {whole.squared_error_sum, whole.absolute_error_sum, whole.max_error,
                        whole.squared_log_error_sum, whole.absolute_percentage_error_sum, whole.y_true_sum,
                        whole.count, whole.y_true_squared_sum, whole.y_pred_squared_sum,
                        whole.y_true_pred_product_sum};
    const double b[] = {pieces.squared_error_sum, pieces.absolute_error_sum, pieces.max_error,
                        pieces.squared_log_error_sum, pieces.absolute_percentage_error_sum, pieces.y_true_sum,
                        pieces.count, pieces.y_true_squared_sum, pieces.y_pred_squared_sum,
                        pieces.y_true_pred_product_sum};
    FUZZ_CHECK(fuzz::same<double>(a, b));
    FUZZ_CHECK(whole.count == static_cast<double>(n));
    const auto r = linear_regression_runtime(yt, yp);
    FUZZ_CHECK(r.has_value() == (n > 0));
    if (r) FUZZ_CHECK(same_record(*r, whole.metrics(static_cast<double>(n))));
}

// The three monitors: a random sequence of calls on two instances, one
// fed batches, the other the same pairs one by one; snapshots agree.
void fuzz_streaming(fuzz::Input& in) {
    std::vector<float> bt(in.size(50) + 1), bp(bt.size());
    for (std::size_t i = 0; i < bt.size(); ++i) {
        bt[i] = in.flag() ? 1.0f : in.real32();
        bp[i] = in.flag() ? 1.0f : in.real32();
    }
    const float threshold = in.flag() ? 0.5f : in.real32();
    using Classification = streaming::BinaryClassificationStreaming<std::int32_t>;
    std::vector<std::int32_t> it(bt.size()), ip(bt.size());
    for (std::size_t i = 0; i < bt.size(); ++i) {
        it[i] = in.integral<std::int32_t>(-1, 2);
        ip[i] = in.integral<std::int32_t>(-1, 2);
    }
    auto c1 = Classification::create(Column::of(std::span<const std::int32_t>(it)), Column::of(std::span<const std::int32_t>(ip)));
    auto c2 = c1;
    auto g1 = streaming::LogisticRegressionStreaming::create(Column::of(bt), Column::of(bp), threshold);
    auto g2 = g1;
    auto l1 = streaming::LinearRegressionStreaming::create(bt, bp);
    auto l2 = l1;
    FUZZ_CHECK(c1 && l1);  // equal, non-empty lengths

    for (int step = 0; step < 32 && !in.empty(); ++step) {
        const std::size_t n = in.size(40);
        std::vector<float> yt(n), yp(n);
        std::vector<std::int32_t> ct(n), cp(n);
        for (std::size_t i = 0; i < n; ++i) {
            yt[i] = in.flag() ? 1.0f : in.real32();
            yp[i] = in.real32();
            ct[i] = in.integral<std::int32_t>(-1, 2);
            cp[i] = in.integral<std::int32_t>(-1, 2);
        }
        switch (in.integral<int>(0, 2)) {
            case 0: {
                FUZZ_CHECK(c1->push_batch(Column::of(std::span<const std::int32_t>(ct)),
                                          Column::of(std::span<const std::int32_t>(cp))));
                for (std::size_t i = 0; i < n; ++i) c2->push(ct[i], cp[i]);
                if (g1) {
                    // An empty batch is refused here (and accepted above).
                    FUZZ_CHECK(g1->push_batch(Column::of(yt), Column::of(yp)).has_value() == (n > 0));
                    for (std::size_t i = 0; i < n; ++i) FUZZ_CHECK(g2->push(yt[i], yp[i]));
                }
                const auto r = l1->push_batch(yt, yp);
                FUZZ_CHECK(r.has_value() == (n > 0));
                for (std::size_t i = 0; i < n && r; ++i) l2->push(yt[i], yp[i]);
                break;
            }
            case 1: {
                c1->flush();
                c2->flush();
                if (g1) {
                    g1->flush();
                    g2->flush();
                }
                l1->flush();
                l2->flush();
                break;
            }
            default: {
                const auto r = c1->reset_baseline(Column::of(std::span<const std::int32_t>(ct)),
                                                  Column::of(std::span<const std::int32_t>(cp)));
                FUZZ_CHECK(r && c2->reset_baseline(Column::of(std::span<const std::int32_t>(ct)),
                                                   Column::of(std::span<const std::int32_t>(cp))));
                if (g1) {
                    const auto before = g1->baseline();
                    const auto rg = g1->reset_baseline(Column::of(yt), Column::of(yp));
                    FUZZ_CHECK(rg.has_value() == g2->reset_baseline(Column::of(yt), Column::of(yp)).has_value());
                    if (!rg) FUZZ_CHECK(same_record(g1->baseline(), before));
                }
                const auto rl = l1->reset_baseline(yt, yp);
                FUZZ_CHECK(rl.has_value() == l2->reset_baseline(yt, yp).has_value());
                break;
            }
        }
        FUZZ_CHECK(same_counts(c1->counts(), c2->counts()));
        FUZZ_CHECK(same_record(c1->baseline(), c2->baseline()));
        const auto s1 = c1->performance_snapshot();
        FUZZ_CHECK(s1.has_value() == (c1->counts().total() > 0));
        if (g1) {
            FUZZ_CHECK(same_counts(g1->counts(), g2->counts()));
            FUZZ_CHECK(fuzz::same(g1->log_loss_sum(), g2->log_loss_sum()));
        }
        const auto p1 = l1->performance_snapshot();
        const auto p2 = l2->performance_snapshot();
        FUZZ_CHECK(p1.has_value() == p2.has_value());
        if (p1) FUZZ_CHECK(same_record(*p1, *p2));
        const auto d1 = l1->drift_report(in.flag() ? std::optional<float>() : in.real32());
        (void)d1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.integral<int>(0, 3)) {
        case 0: fuzz_confusion(in); break;
        case 1: fuzz_logistic(in); break;
        case 2: fuzz_regression(in); break;
        default: fuzz_streaming(in); break;
    }
    return 0;
}
