#include "data_handler/zeroed_buffer.hpp"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvant::data_handler::detail {

namespace {
constexpr std::size_t kMapThreshold = std::size_t{1} << 20;
}

void* allocate_zeroed(std::size_t bytes, bool& mapped) {
#if defined(__linux__)
    if (bytes >= kMapThreshold) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
        madvise(p, bytes, MADV_HUGEPAGE);  // advice only; failure changes nothing
#endif
        mapped = true;
        return p;
    }
#endif
    void* p = std::calloc(bytes, 1);
    if (p == nullptr) throw std::bad_alloc();
    mapped = false;
    return p;
}

void release_zeroed(void* p, std::size_t bytes, bool mapped) noexcept {
    if (p == nullptr) return;
#if defined(__linux__)
    if (mapped) {
        munmap(p, bytes);
        return;
    }
#else
    (void)bytes;
    (void)mapped;
#endif
    std::free(p);
}

}  // namespace quorvant::data_handler::detail
