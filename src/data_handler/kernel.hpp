// Hot loops over user data are compiled twice on x86-64, for the baseline
// instruction set and for AVX2, and the loader picks one per machine. The
// kernels marked so do integer work and exact float comparisons only, so
// both versions give the same results.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define QUORVANT_KERNEL [[gnu::target_clones("avx2", "default")]]
#else
#define QUORVANT_KERNEL
#endif
