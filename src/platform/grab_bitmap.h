// The picture a player view renders, in the layout the renderer writes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// A top-down picture of 4 bytes a pixel (blue, green, red, unused), the layout the player
// renders: row pointer and row length are multiples of 64 bytes. Allocated by Create only.
// The largest picture a grab may hold, as for any image of the program.
inline constexpr std::int64_t kMaxGrabPixels = std::int64_t{1} << 28;

class CGrabBitmap {
public:
    static constexpr int kAlign = 64;

    // Makes a black picture of width x height; false (and empty) when it cannot be made.
    bool Create(int width, int height);
    void Clear();
    bool IsEmpty() const { return !m_hBits; }
    std::uint8_t* Row(int y) { return m_hBits.get() + std::ptrdiff_t(y) * m_nStride; }
    const std::uint8_t* Row(int y) const { return m_hBits.get() + std::ptrdiff_t(y) * m_nStride; }
    std::uint8_t* Bits() { return m_hBits.get(); }
    void Swap(CGrabBitmap& other);

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nStride = 0;

private:
    struct FreeBits {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, FreeBits> m_hBits;
};
