#include "data_handler/labeling.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/kernel.hpp"
#include "config/config.hpp"
#include "data_handler/distinct_values.hpp"

namespace quorvant::data_handler {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

std::uint32_t load_u32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t load_u64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Code points of valid UTF-8.
std::vector<std::uint32_t> decode_utf8(std::string_view s) {
    std::vector<std::uint32_t> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t c;
        std::size_t len;
        if (b < 0x80) {
            c = b, len = 1;
        } else if (b < 0xE0) {
            c = b & 0x1Fu, len = 2;
        } else if (b < 0xF0) {
            c = b & 0x0Fu, len = 3;
        } else {
            c = b & 0x07u, len = 4;
        }
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        }
        out.push_back(c);
        i += len;
    }
    return out;
}

// Elements of W code points at data + i * stride against a pattern of the
// same width; W fixed at compile time for the common narrow widths.
template <std::size_t W>
void equal_ucs4_fixed(const char* data, std::ptrdiff_t stride, std::size_t n, const std::uint32_t* pattern,
                      Label* out) {
    constexpr std::size_t kBytes = 4 * W;
    if constexpr (kBytes < 8) {
        const std::uint32_t pat = pattern[0];
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<Label>(load_u32(data + static_cast<std::ptrdiff_t>(i) * stride) == pat);
        }
    } else {
        // Whole 8-byte words, the last one overlapping its neighbour.
        constexpr std::size_t kWords = (kBytes + 7) / 8;
        const char* pbytes = reinterpret_cast<const char*>(pattern);
        std::uint64_t pat[kWords];
        for (std::size_t k = 0; k < kWords; ++k) pat[k] = load_u64(pbytes + std::min(8 * k, kBytes - 8));
        for (std::size_t i = 0; i < n; ++i) {
            const char* e = data + static_cast<std::ptrdiff_t>(i) * stride;
            std::uint64_t diff = 0;
            for (std::size_t k = 0; k < kWords; ++k) diff |= load_u64(e + std::min(8 * k, kBytes - 8)) ^ pat[k];
            out[i] = static_cast<Label>(diff == 0);
        }
    }
}

template <std::size_t... W>
bool equal_ucs4_dispatch(std::index_sequence<W...>, std::size_t width, const char* data, std::ptrdiff_t stride,
                         std::size_t n, const std::uint32_t* pattern, Label* out) {
    return ((width == W + 1 ? (equal_ucs4_fixed<W + 1>(data, stride, n, pattern, out), true) : false) || ...);
}

QUORVANT_KERNEL void label_equal_ucs4(const char* data, std::ptrdiff_t stride, std::size_t n,
                                      const std::vector<std::uint32_t>& pattern, Label* out) {
    const std::size_t width = pattern.size();
    if (equal_ucs4_dispatch(std::make_index_sequence<16>{}, width, data, stride, n, pattern.data(), out)) return;
    const std::uint32_t* pat = pattern.data();
    for (std::size_t i = 0; i < n; ++i) {
        const char* e = data + static_cast<std::ptrdiff_t>(i) * stride;
        std::uint32_t diff = 0;
        for (std::size_t j = 0; j < width; ++j) diff |= load_u32(e + 4 * j) ^ pat[j];
        out[i] = static_cast<Label>(diff == 0);
    }
}

// The UCS4 pattern of a label: its code points padded with NULs to the
// width; nullopt when no element can equal it (an element is its code points
// without trailing NULs, so a label longer than the width, or ending in NUL,
// matches none).
std::optional<std::vector<std::uint32_t>> ucs4_pattern(const ByUcs4& l) {
    const std::vector<std::uint32_t> cps = decode_utf8(l.label);
    if (cps.size() > l.width || (!cps.empty() && cps.back() == 0)) return std::nullopt;
    std::vector<std::uint32_t> pattern(l.width, 0);
    std::copy(cps.begin(), cps.end(), pattern.begin());
    return pattern;
}

// f(begin, count, out) writes the labels of rows [begin, begin + count) for
// consecutive chunks; they are packed as they come.
template <class F>
PackedLabels packed(std::size_t n, F&& f) {
    PackedLabels labels(n);
    Label chunk[kChunk];
    for (std::size_t i = 0; i < n; i += kChunk) {
        const std::size_t count = std::min(kChunk, n - i);
        f(i, count, chunk);
        labels.set(i, chunk, count);
    }
    return labels;
}

// f(begin, count, out) writes the labels of rows [begin, begin + count)
// one bit per row, all rows in one call.
template <class F>
PackedLabels packed_bits(std::size_t n, F&& f) {
    PackedLabels labels(n);
    f(0, n, labels.bits_from(0));
    return labels;
}

// The value is a label for discrete numbers and a threshold for continuous
// ones. The distinct count runs a stretch ahead of the labels in the same
// pass, so each stretch is read from memory once: labels are made for
// equality while the count is open (the answer for most discrete arrays),
// and when it reaches the bound the rows already labeled are labeled again
// by threshold. label(begin, count, op, out) labels rows.
template <class T, class F>
PackedLabels label_or_threshold(std::span<const T> xs, F&& label) {
    // Rows per stretch: the stretch is still in L1 when it is labeled.
    constexpr std::size_t kStep = 1024;
    const std::size_t n = xs.size();
    const std::optional<std::size_t> bound = continuous_bound(n, config::distribution_heuristic());
    if (!bound) {
        return packed_bits(n, [&](std::size_t b, std::size_t c, LabelBits out) {
            label(b, c, Comparison::Equal, out);
        });
    }
    DistinctScan<T> scan(xs, *bound);
    PackedLabels labels(n);
    std::size_t i = 0;
    for (; i < n; i += kStep) {
        const std::size_t count = std::min(kStep, n - i);
        const Decision decision = scan.advance(i + count);
        if (decision == Decision::Continuous) {
            label(0, n, Comparison::GreaterEqual, labels.bits_from(0));
            return labels;
        }
        if (decision == Decision::Discrete) break;
        label(i, count, Comparison::Equal, labels.bits_from(i));
    }
    if (i < n) label(i, n - i, Comparison::Equal, labels.bits_from(i));
    return labels;
}

}  // namespace

std::size_t size_of(const Labeling& labeling) {
    const auto numbers = [](const Numbers& n) { return std::visit([](auto s) { return s.size(); }, n); };
    return std::visit(Overloaded{[&](const ByFloatValue& l) { return numbers(l.values); },
                                 [&](const ByIntegerValue& l) { return numbers(l.values); },
                                 [](const ByBool& l) { return l.values.size(); },
                                 [&](const ByComparison& l) { return numbers(l.values); },
                                 [](const ByUcs4& l) { return l.size; }},
                      labeling);
}

void PackedLabels::set(std::size_t begin, const Label* labels, std::size_t count) {
    pack_labels(labels, count, bits_from(begin));
}

QUORVANT_KERNEL PairSums pair_sums(const PackedLabels& a, const PackedLabels& b) {
    PairSums s;
    const std::uint64_t* x = a.words().data();
    const std::uint64_t* y = b.words().data();
    for (std::size_t i = 0; i < a.words().size(); ++i) {
        s.a += static_cast<std::uint64_t>(std::popcount(x[i]));
        s.b += static_cast<std::uint64_t>(std::popcount(y[i]));
        s.ab += static_cast<std::uint64_t>(std::popcount(x[i] & y[i]));
    }
    return s;
}

QUORVANT_KERNEL TripleSums triple_sums(const PackedLabels& f, const PackedLabels& p, const PackedLabels& g) {
    TripleSums s;
    const std::uint64_t* x = f.words().data();
    const std::uint64_t* y = p.words().data();
    const std::uint64_t* z = g.words().data();
    for (std::size_t i = 0; i < f.words().size(); ++i) {
        const auto count = [](std::uint64_t w) { return static_cast<std::uint64_t>(std::popcount(w)); };
        s.f += count(x[i]);
        s.p += count(y[i]);
        s.g += count(z[i]);
        s.fp += count(x[i] & y[i]);
        s.fg += count(x[i] & z[i]);
        s.pg += count(y[i] & z[i]);
        s.fpg += count(x[i] & y[i] & z[i]);
    }
    return s;
}

PackedLabels make_labels(const Labeling& labeling) {
    const std::size_t n = size_of(labeling);
    return std::visit(
        Overloaded{
            [&](const ByFloatValue& l) {
                return std::visit(
                    [&]<class T>(std::span<const T> xs) {
                        return label_or_threshold(xs, [&](std::size_t b, std::size_t c, Comparison op,
                                                          LabelBits out) {
                            label_compare_f64(xs.subspan(b, c), op, l.value, out);
                        });
                    },
                    l.values);
            },
            [&](const ByIntegerValue& l) {
                return std::visit(
                    [&]<class T>(std::span<const T> xs) {
                        if constexpr (std::is_integral_v<T>) {
                            return label_or_threshold(xs, [&](std::size_t b, std::size_t c, Comparison op,
                                                              LabelBits out) {
                                label_compare_i64(xs.subspan(b, c), op, l.value, out);
                            });
                        } else {
                            return PackedLabels(n);  // integers only, never built
                        }
                    },
                    l.values);
            },
            [&](const ByBool& l) {
                return packed_bits(n, [&](std::size_t b, std::size_t c, LabelBits out) {
                    label_equal_bool(l.values.subspan(b, c), l.value, out);
                });
            },
            [&](const ByComparison& l) {
                return std::visit(
                    [&]<class T>(std::span<const T> xs) {
                        return packed_bits(n, [&](std::size_t b, std::size_t c, LabelBits out) {
                            label_compare_f64(xs.subspan(b, c), l.op, l.threshold, out);
                        });
                    },
                    l.values);
            },
            [&](const ByUcs4& l) {
                const auto pattern = ucs4_pattern(l);
                if (!pattern) return PackedLabels(n);
                return packed(n, [&](std::size_t b, std::size_t c, Label* out) {
                    label_equal_ucs4(l.data + static_cast<std::ptrdiff_t>(b) * l.stride, l.stride, c, *pattern, out);
                });
            },
        },
        labeling);
}

void label_equal_texts(std::span<const std::string_view> texts, std::string_view label, Label* out) {
    for (std::size_t i = 0; i < texts.size(); ++i) out[i] = static_cast<Label>(texts[i] == label);
}

}  // namespace quorvant::data_handler
