#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qm {

// Reads typed values off the front of a fuzzer's input; past its end every value is zero, so
// a target never has to check how much is left before it takes a field.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take() {
        T value{};
        const size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    bool Empty() const { return size_ == 0; }
    const uint8_t* Rest() const { return data_; }
    size_t RestSize() const { return size_; }

  private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace qm
