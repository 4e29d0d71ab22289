// Hot loops over user data are compiled once per instruction set on x86-64
// (AVX-512, AVX2 and the baseline) and the loader picks one per machine.
// Every loop marked so does integer work, exact comparisons, or IEEE
// operations in a fixed order with contraction off, so all versions give
// the same bits. This is the project's one list of clones.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUORVANT_KERNEL [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define QUORVANT_KERNEL
#endif
