// The floor of the bias analyzer on three int64 arrays: one read of each
// array, every element compared with its label and the matches counted,
// nothing else (no distinct-value decision, no labels kept, no metrics).
// Compiled with the kernels' instruction-set clones. Built and loaded by
// bench_floor.py.
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PROBE_KERNEL [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define PROBE_KERNEL
#endif

namespace {

PROBE_KERNEL std::uint64_t count_equal(const std::int64_t* x, std::size_t n, std::int64_t v) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += static_cast<std::uint64_t>(x[i] == v);
    return count;
}

}  // namespace

extern "C" std::uint64_t count_equal_three(const std::int64_t* f, const std::int64_t* g, const std::int64_t* p,
                                           std::size_t n, std::int64_t vf, std::int64_t vg, std::int64_t vp) {
    return count_equal(f, n, vf) + count_equal(g, n, vg) + count_equal(p, n, vp);
}
