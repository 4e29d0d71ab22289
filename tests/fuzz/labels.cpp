// The labeling kernels and the distinct-value decision. Oracles: every
// kernel (in both output forms) against a scalar comparison of each
// element; has_distinct against a std::set of keys (floats by bit pattern,
// every NaN new); the continuous bound against a linear search over the
// same f32 rule.
#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "data_handler/distinct_values.hpp"
#include "data_handler/labels.hpp"
#include "fuzz_common.hpp"

using namespace quorvant::data_handler;

namespace {

bool compare(Comparison op, auto x, auto v) {
    switch (op) {
        case Comparison::Greater: return x > v;
        case Comparison::GreaterEqual: return x >= v;
        case Comparison::Less: return x < v;
        case Comparison::LessEqual: return x <= v;
        case Comparison::Equal: return x == v;
    }
    return false;
}

// Elements that repeat (so ties with the compared value occur), or raw.
template <class T>
std::vector<T> elements(fuzz::Input& in, std::size_t n) {
    std::vector<T> out(n);
    const int spread = in.integral<int>(0, 3);
    for (auto& x : out) {
        if constexpr (std::is_floating_point_v<T>) {
            x = static_cast<T>(spread == 0 ? in.real() : static_cast<double>(in.integral<int>(-spread * 4, spread * 4)));
        } else if (spread == 0) {
            x = in.raw<T>();
        } else {
            x = static_cast<T>(in.integral<int>(-spread * 4, spread * 4));
        }
    }
    return out;
}

// The one-bit-per-row form of a kernel gives the same labels, zero bits
// past the rows, and writes no word past the last.
template <class Call>
void check_bits(const std::vector<Label>& want, std::size_t n, Call call) {
    constexpr std::uint64_t kGuard = 0x5A5A5A5A5A5A5A5Aull;
    const std::size_t words = (n + 63) / 64;
    std::vector<std::uint64_t> bits(words + 1, kGuard);
    call(LabelBits{bits.data()});
    for (std::size_t i = 0; i < n; ++i) FUZZ_CHECK(((bits[i / 64] >> (i % 64)) & 1) == want[i]);
    if (n % 64 != 0) FUZZ_CHECK((bits[n / 64] >> (n % 64)) == 0);
    FUZZ_CHECK(bits[words] == kGuard);
}

template <class T>
void fuzz_compare(fuzz::Input& in) {
    // Lengths around vector widths.
    const std::size_t n = in.size(200);
    const auto op = static_cast<Comparison>(in.integral<int>(0, 4));
    std::vector<T> xs = elements<T>(in, n);
    std::vector<Label> got(n + 1, 0xAA), want(n);

    const double fv = in.flag() ? static_cast<double>(in.integral<int>(-16, 16)) : in.real();
    label_compare_f64<T>(xs, op, fv, got.data());
    for (std::size_t i = 0; i < n; ++i) want[i] = compare(op, static_cast<double>(xs[i]), fv);
    FUZZ_CHECK(std::equal(want.begin(), want.end(), got.begin()));
    FUZZ_CHECK(got[n] == 0xAA);  // nothing written past the end
    check_bits(want, n, [&](LabelBits out) { label_compare_f64<T>(xs, op, fv, out); });
    check_bits(want, n, [&](LabelBits out) { pack_labels(got.data(), n, out); });

    if constexpr (std::is_integral_v<T>) {
        if constexpr (std::is_same_v<T, std::uint64_t>) {
            for (auto& x : xs) x &= ~(1ull << 63);  // the readers refuse larger ones
        }
        const std::int64_t iv = in.flag() ? in.integral<std::int64_t>(-16, 16) : in.raw<std::int64_t>();
        label_compare_i64<T>(xs, op, iv, got.data());
        for (std::size_t i = 0; i < n; ++i) want[i] = compare(op, static_cast<std::int64_t>(xs[i]), iv);
        FUZZ_CHECK(std::equal(want.begin(), want.end(), got.begin()));
        FUZZ_CHECK(got[n] == 0xAA);
        check_bits(want, n, [&](LabelBits out) { label_compare_i64<T>(xs, op, iv, out); });
    }
}

void fuzz_bool_and_rule(fuzz::Input& in) {
    const std::size_t n = in.size(200);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = in.integral<std::uint8_t>(0, 1);
    std::vector<Label> got(n + 1, 0xAA);
    const bool value = in.flag();
    label_equal_bool(bytes, value, got.data());
    for (std::size_t i = 0; i < n; ++i) FUZZ_CHECK(got[i] == (bytes[i] == (value ? 1 : 0)));
    FUZZ_CHECK(got[n] == 0xAA);
    check_bits(std::vector<Label>(got.begin(), got.begin() + n), n,
               [&](LabelBits out) { label_equal_bool(bytes, value, out); });

    std::vector<std::int8_t> values = elements<std::int8_t>(in, n);
    const SegmentationRule<std::int8_t> rule{in.raw<std::uint8_t>(), in.raw<std::int8_t>()};
    label_rule(values, rule, got.data());
    for (std::size_t i = 0; i < n; ++i) FUZZ_CHECK(got[i] == (rule(values[i]) ? 1 : 0));
    FUZZ_CHECK(got[n] == 0xAA);
}

template <class T>
std::size_t distinct_count(const std::vector<T>& xs) {
    if constexpr (std::is_floating_point_v<T>) {
        std::set<std::uint64_t> keys;
        std::size_t nans = 0;
        for (T x : xs) {
            if (x != x) {
                ++nans;
                continue;
            }
            std::uint64_t k = 0;
            std::memcpy(&k, &x, sizeof x);
            keys.insert(k);
        }
        return keys.size() + nans;
    } else {
        return std::set<T>(xs.begin(), xs.end()).size();
    }
}

template <class T>
void fuzz_distinct(fuzz::Input& in) {
    // Long enough for the blocked membership test and its bounds.
    const std::size_t n = in.size(3000);
    std::vector<T> xs = elements<T>(in, n);
    const std::size_t distinct = distinct_count(xs);
    const std::size_t bound = in.flag() ? in.integral<std::size_t>(0, n + 2) : in.integral<std::size_t>(0, distinct + 1);
    FUZZ_CHECK(has_distinct<T>(xs, bound) == (distinct >= bound));

    const float heuristic = in.flag() ? 0.05f : in.real32();
    const auto b = continuous_bound(n, heuristic);
    std::optional<std::size_t> want;
    for (std::size_t k = 4; k <= n; ++k) {
        if (static_cast<float>(k) / static_cast<float>(n) > heuristic) {
            want = k;
            break;
        }
    }
    FUZZ_CHECK(b == want);
    FUZZ_CHECK(is_continuous<T>(xs, heuristic) == (want && distinct >= *want));
}

template <class T>
void fuzz_type(fuzz::Input& in) {
    if (in.flag()) {
        fuzz_compare<T>(in);
    } else {
        fuzz_distinct<T>(in);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.integral<int>(0, 10)) {
        case 0: fuzz_type<double>(in); break;
        case 1: fuzz_type<float>(in); break;
        case 2: fuzz_type<std::int8_t>(in); break;
        case 3: fuzz_type<std::int16_t>(in); break;
        case 4: fuzz_type<std::int32_t>(in); break;
        case 5: fuzz_type<std::int64_t>(in); break;
        case 6: fuzz_type<std::uint8_t>(in); break;
        case 7: fuzz_type<std::uint16_t>(in); break;
        case 8: fuzz_type<std::uint32_t>(in); break;
        case 9: fuzz_type<std::uint64_t>(in); break;
        default: fuzz_bool_and_rule(in); break;
    }
    return 0;
}
