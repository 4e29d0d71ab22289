#include "model_perf/regression_kernels.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "common/kernel.hpp"
#include "model_perf/perf_kernels.hpp"

// Every sum is one chain of f64 additions in index order; what is left to
// arrange is the work around them. Pairs go through in blocks, each in
// three steps that do one kind of work each:
//  - the element-wise terms, four rows at a time;
//  - the two logarithms per row (library calls: no running sum is live
//    across them, so nothing is spilled around the calls);
//  - the eight sums, one scalar addition per sum and row.
// The sums of a block run in the same loop as the terms of the next one,
// so their chains of additions (bound by the latency of an addition) fill
// the gaps of the vector work instead of running on their own.

namespace quorvant::model_perf {

namespace {

constexpr std::size_t kRows = 256;  // see RegressionBlock before changing it

using v4d = double __attribute__((vector_size(32)));
using v4f = float __attribute__((vector_size(16)));
using v4l = std::int64_t __attribute__((vector_size(32)));

// Loads and stores at any address. Copies rather than casts to vector types
// of smaller alignment: the cast is undefined for some compilers (clang
// keeps the natural alignment), the copy becomes the same unaligned move.
template <class V, class T>
inline V load(const T* p) {
    V x;
    __builtin_memcpy(&x, p, sizeof x);
    return x;
}

constexpr v4l kAbsMask = {0x7fffffffffffffff, 0x7fffffffffffffff, 0x7fffffffffffffff, 0x7fffffffffffffff};
constexpr v4l kInfinityBits = {0x7ff0000000000000, 0x7ff0000000000000, 0x7ff0000000000000, 0x7ff0000000000000};

// The terms of one block, one array per term. One cache line between
// consecutive arrays, so that with 256 rows no two arrays of the two blocks
// in use sit within two cache lines of a multiple of 4 KiB apart: loads
// would wait on unrelated stores.
struct RegressionBlock {
    static constexpr std::size_t kStride = kRows + 8;
    alignas(64) double terms[9 * kStride];
    // The largest a of the block as bits (see widen_terms).
    std::int64_t max_bits;

    double* at(std::size_t k) { return terms + k * kStride; }
    const double* at(std::size_t k) const { return terms + k * kStride; }
};
enum Term : std::size_t { kY, kYY, kPP, kYP, kEE, kA, kAPE, kLogY, kLogP };

// The running sums of LinearRegressionErrorBuckets except the count.
struct Chains {
    double se, ae, mx, sle, ape, ys, yy, pp, yp;
};

// Four values narrowed to f32 as the batch conversion does (a no-op for
// f32 values), then widened to f64.
inline void widen(const double* p, v4d& out) {
    out = __builtin_convertvector(__builtin_convertvector(load<v4d>(p), v4f), v4d);
}
inline void widen(const float* p, v4d& out) { out = __builtin_convertvector(load<v4f>(p), v4d); }

inline void store(double* p, const v4d& v) { __builtin_memcpy(p, &v, sizeof v); }

// The terms of rows [i, i + 4).
//
// The maximum error needs no order: every a = |y - p| is +0, positive or
// NaN, and NaN never wins, so the largest non-NaN a is the same whichever
// way it is found. Non-negative doubles order like their bit patterns, so
// it is an integer maximum over the bits, NaN mapped to 0 (+0.0, which
// never replaces the running maximum).
template <class T, class U>
[[gnu::always_inline]] inline void widen_terms(const T* t, const U* p, std::size_t i, RegressionBlock& b,
                                               v4l& max_key) {
    v4d y, q;
    widen(t + i, y);
    widen(p + i, q);
    const v4d e = y - q;
    const v4d a = reinterpret_cast<v4d>(reinterpret_cast<v4l>(e) & kAbsMask);
    store(b.at(kY) + i, y);
    store(b.at(kYY) + i, y * y);
    store(b.at(kPP) + i, q * q);
    store(b.at(kYP) + i, y * q);
    store(b.at(kEE) + i, e * e);
    store(b.at(kA) + i, a);
    store(b.at(kAPE) + i, reinterpret_cast<v4d>(reinterpret_cast<v4l>(a / y) & kAbsMask));
    store(b.at(kLogY) + i, y + 1.0);
    store(b.at(kLogP) + i, q + 1.0);
    const v4l bits = reinterpret_cast<v4l>(a);
    const v4l key = bits <= kInfinityBits ? bits : v4l{0, 0, 0, 0};
    max_key = key > max_key ? key : max_key;
}

// One row's terms, the same operations on one value.
template <class T, class U>
inline void row_terms(const T* t, const U* p, std::size_t i, RegressionBlock& b, std::int64_t& max_bits) {
    const double y = static_cast<double>(to_f32(t[i]));
    const double q = static_cast<double>(to_f32(p[i]));
    const double e = y - q;
    const double a = std::fabs(e);
    b.at(kY)[i] = y;
    b.at(kYY)[i] = y * y;
    b.at(kPP)[i] = q * q;
    b.at(kYP)[i] = y * q;
    b.at(kEE)[i] = e * e;
    b.at(kA)[i] = a;
    b.at(kAPE)[i] = std::fabs(a / y);
    b.at(kLogY)[i] = y + 1.0;
    b.at(kLogP)[i] = q + 1.0;
    const auto bits = std::bit_cast<std::int64_t>(a);
    const std::int64_t key = bits <= 0x7ff0000000000000 ? bits : 0;
    max_bits = key > max_bits ? key : max_bits;
}

inline std::int64_t largest(const v4l& v, std::int64_t m) {
    for (int l = 0; l < 4; ++l) m = v[l] > m ? v[l] : m;
    return m;
}

// The eight sums over rows [i, i + 4) of a block.
[[gnu::always_inline]] inline void add_rows(const RegressionBlock& b, std::size_t i, std::size_t end, Chains& c) {
    const double *y = b.at(kY), *yy = b.at(kYY), *pp = b.at(kPP), *yp = b.at(kYP), *ee = b.at(kEE);
    const double *a = b.at(kA), *ape = b.at(kAPE), *dd = b.at(kLogY);
    for (std::size_t r = i; r < end; ++r) {
        c.yy += yy[r];
        c.pp += pp[r];
        c.yp += yp[r];
        c.se += ee[r];
        c.ae += a[r];
        c.sle += dd[r];
        c.ape += ape[r];
        c.ys += y[r];
    }
}

// The terms of a whole block and, in the same loop, the sums of the
// previous one.
template <class T, class U>
QUORVANT_KERNEL void terms_and_sums(const T* __restrict t, const U* __restrict p, RegressionBlock& b,
                                    const RegressionBlock& prev, Chains& chains) {
    Chains c = chains;
    v4l max_key = {0, 0, 0, 0};
    for (std::size_t i = 0; i < kRows; i += 4) {
        widen_terms(t, p, i, b, max_key);
        add_rows(prev, i, i + 4, c);
    }
    b.max_bits = largest(max_key, 0);
    chains = c;
}

// The terms of the first k rows of a block.
template <class T, class U>
QUORVANT_KERNEL void block_terms(const T* __restrict t, const U* __restrict p, std::size_t k, RegressionBlock& b) {
    v4l max_key = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= k; i += 4) widen_terms(t, p, i, b, max_key);
    std::int64_t max_bits = largest(max_key, 0);
    for (; i < k; ++i) row_terms(t, p, i, b, max_bits);
    b.max_bits = max_bits;
}

QUORVANT_KERNEL void block_sums(const RegressionBlock& b, std::size_t k, Chains& chains) {
    Chains c = chains;
    add_rows(b, 0, k, c);
    chains = c;
}

// The platform logarithm of y + 1 and p + 1 (not log1p), then the squared
// difference d * d in place of the first.
QUORVANT_KERNEL void block_logs(RegressionBlock& b, std::size_t k) {
    double* __restrict ly = b.at(kLogY);
    double* __restrict lp = b.at(kLogP);
    for (std::size_t i = 0; i < k; ++i) {
        ly[i] = std::log(ly[i]);
        lp[i] = std::log(lp[i]);
    }
    for (std::size_t i = 0; i < k; ++i) {
        const double d = ly[i] - lp[i];
        ly[i] = d * d;
    }
}

// Runs the blocks; source(start, k) gives the pointers to rows
// [start, start + k) of both columns as T and U.
template <class T, class U, class Source>
void run_blocks(std::size_t n, Source&& source, Chains& c) {
    RegressionBlock blocks[2];
    std::size_t prev_k = 0;
    std::size_t cur = 0;
    for (std::size_t start = 0; start < n; start += kRows) {
        const std::size_t k = std::min(kRows, n - start);
        const std::pair<const T*, const U*> rows = source(start, k);
        RegressionBlock& b = blocks[cur];
        const RegressionBlock& prev = blocks[cur ^ 1];
        if (k == kRows && prev_k == kRows) {
            terms_and_sums(rows.first, rows.second, b, prev, c);
        } else {
            if (prev_k > 0) block_sums(prev, prev_k, c);
            block_terms(rows.first, rows.second, k, b);
        }
        const double block_max = std::bit_cast<double>(b.max_bits);
        c.mx = block_max > c.mx ? block_max : c.mx;  // a NaN never becomes the maximum
        block_logs(b, k);
        prev_k = k;
        cur ^= 1;
    }
    if (prev_k > 0) block_sums(blocks[cur ^ 1], prev_k, c);
}

bool aligned_run(const Column& c, ElementType type, std::size_t size) {
    return c.type == type && c.stride == static_cast<std::ptrdiff_t>(size) &&
           reinterpret_cast<std::uintptr_t>(c.data) % size == 0;
}

// count + 1.0, n times: while the count is a whole number and stays within
// 2^53 every addition is exact, so the n additions are one.
double add_count(double count, std::size_t n) {
    const double k = static_cast<double>(n);
    if (count >= 0.0 && count <= 0x1p53 - k && std::trunc(count) == count) return count + k;
    for (std::size_t i = 0; i < n; ++i) count += 1.0;
    return count;
}

}  // namespace

void regression_pass(const Column& y_true, const Column& y_pred, LinearRegressionErrorBuckets& sums) {
    const std::size_t n = std::min(y_true.size, y_pred.size);
    Chains c{sums.squared_error_sum, sums.absolute_error_sum, sums.max_error,
             sums.squared_log_error_sum, sums.absolute_percentage_error_sum, sums.y_true_sum,
             sums.y_true_squared_sum, sums.y_pred_squared_sum, sums.y_true_pred_product_sum};
    // Contiguous f64 or f32 columns of one type are read in place; any other
    // pair is narrowed to f32 a block at a time first.
    const auto in_place = [&]<class T>() {
        const auto* t = reinterpret_cast<const T*>(y_true.data);
        const auto* p = reinterpret_cast<const T*>(y_pred.data);
        run_blocks<T, T>(n, [&](std::size_t start, std::size_t) {
            return std::pair<const T*, const T*>(t + start, p + start);
        }, c);
    };
    if (aligned_run(y_true, ElementType::F64, 8) && aligned_run(y_pred, ElementType::F64, 8)) {
        in_place.operator()<double>();
    } else if (aligned_run(y_true, ElementType::F32, 4) && aligned_run(y_pred, ElementType::F32, 4)) {
        in_place.operator()<float>();
    } else {
        float t[kRows], p[kRows];
        run_blocks<float, float>(n, [&](std::size_t start, std::size_t k) {
            fill_f32(y_true, start, k, t);
            fill_f32(y_pred, start, k, p);
            return std::pair<const float*, const float*>(t, p);
        }, c);
    }
    sums.squared_error_sum = c.se;
    sums.absolute_error_sum = c.ae;
    sums.max_error = c.mx;
    sums.squared_log_error_sum = c.sle;
    sums.absolute_percentage_error_sum = c.ape;
    sums.y_true_sum = c.ys;
    sums.count = add_count(sums.count, n);
    sums.y_true_squared_sum = c.yy;
    sums.y_pred_squared_sum = c.pp;
    sums.y_true_pred_product_sum = c.yp;
}

}  // namespace quorvant::model_perf
