#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <span>

namespace qm {

// A zero-initialised array whose size is fixed when it is allocated. Allocation reports
// failure instead of throwing, so a refused Prepare can return its result code; the array can
// be moved but never copied, so a buffer on the audio path cannot be duplicated by accident.
template <typename T>
class FixedArray {
  public:
    FixedArray() = default;
    FixedArray(const FixedArray&) = delete;
    FixedArray& operator=(const FixedArray&) = delete;
    FixedArray(FixedArray&&) noexcept = default;
    FixedArray& operator=(FixedArray&&) noexcept = default;

    // Replaces the contents with `count` value-initialised entries; false (and empty) when the
    // memory is not available. Not real-time: call from Prepare only.
    bool Allocate(size_t count) {
        Free();
        if (count == 0 || count > kMaxCount)
            return false;
        data_.reset(new (std::nothrow) T[count]());
        if (!data_)
            return false;
        size_ = count;
        return true;
    }
    void Free() {
        data_.reset();
        size_ = 0;
    }

    bool Empty() const { return size_ == 0; }
    size_t Size() const { return size_; }
    T* Data() { return data_.get(); }
    const T* Data() const { return data_.get(); }
    std::span<T> Span() { return {data_.get(), size_}; }
    std::span<const T> Span() const { return {data_.get(), size_}; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }

  private:
    // Keeps count * sizeof(T) from overflowing size_t on any target.
    static constexpr size_t kMaxCount = static_cast<size_t>(-1) / 2 / sizeof(T);

    std::unique_ptr<T[]> data_;
    size_t size_ = 0;
};

}  // namespace qm
