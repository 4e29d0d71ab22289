// A zero-filled scratch buffer. Large ones come straight from the system
// and are advised for huge pages: a table touched at random over many
// megabytes otherwise pays one page fault per 4 KiB.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace quorvant::data_handler {

namespace detail {
// Zeroed memory of `bytes` (>= 1); throws std::bad_alloc.
void* allocate_zeroed(std::size_t bytes, bool& mapped);
void release_zeroed(void* p, std::size_t bytes, bool mapped) noexcept;
}  // namespace detail

template <class T>
class ZeroedBuffer {
    static_assert(std::is_trivial_v<T>);

public:
    explicit ZeroedBuffer(std::size_t n) : size_(n) {
        data_ = static_cast<T*>(detail::allocate_zeroed(bytes(), mapped_));
    }
    ZeroedBuffer(ZeroedBuffer&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)), mapped_(o.mapped_) {}
    ZeroedBuffer& operator=(ZeroedBuffer&& o) noexcept {
        if (this != &o) {
            detail::release_zeroed(data_, bytes(), mapped_);
            data_ = std::exchange(o.data_, nullptr);
            size_ = std::exchange(o.size_, 0);
            mapped_ = o.mapped_;
        }
        return *this;
    }
    ZeroedBuffer(const ZeroedBuffer&) = delete;
    ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;
    ~ZeroedBuffer() { detail::release_zeroed(data_, bytes(), mapped_); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    std::size_t bytes() const { return size_ == 0 ? 1 : size_ * sizeof(T); }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace quorvant::data_handler
