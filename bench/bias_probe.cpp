// The floor of the bias analyzer on three int64 arrays: one read of the
// three arrays side by side (three streams in flight at once, the fastest
// way to read them here), every element compared with its label and the
// matches counted; nothing else (no distinct-value decision, no labels
// kept, no metrics). Compiled with the kernels' instruction-set clones.
// Built and loaded by bench_floor.py.
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PROBE_KERNEL [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define PROBE_KERNEL
#endif

extern "C" PROBE_KERNEL std::uint64_t count_equal_three(const std::int64_t* f, const std::int64_t* g,
                                                        const std::int64_t* p, std::size_t n, std::int64_t vf,
                                                        std::int64_t vg, std::int64_t vp) {
    // Blocks of a fixed length vectorise at -O2.
    constexpr std::size_t kBlock = 64;
    std::uint64_t count = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        std::uint64_t block = 0;
        for (std::size_t j = 0; j < kBlock; ++j) {
            block += static_cast<std::uint64_t>(f[i + j] == vf) + static_cast<std::uint64_t>(g[i + j] == vg) +
                     static_cast<std::uint64_t>(p[i + j] == vp);
        }
        count += block;
    }
    for (; i < n; ++i) {
        count += static_cast<std::uint64_t>(f[i] == vf) + static_cast<std::uint64_t>(g[i] == vg) +
                 static_cast<std::uint64_t>(p[i] == vp);
    }
    return count;
}
