#pragma once
// What the fuzz targets share: a user interface that shows nothing and never
// sleeps, and a reader that hands out the fuzzer's input piece by piece.

#include "base/UserInterface.h"

#include <cstddef>
#include <cstdint>

namespace ktv::fuzz {

class SilentUi final : public UserInterface {
public:
    void ShowMessage(std::string_view) override {}
    void SetStatus(StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int) override {}
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::size_t Left() const { return size_ - at_; }
    // 0 once the input is used up.
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to count bytes; returns how many were copied.
    std::size_t Take(std::uint8_t* out, std::size_t count)
    {
        std::size_t n = 0;
        for (; n < count && at_ < size_; ++n)
            out[n] = data_[at_++];
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace ktv::fuzz
