// Bursts of frames for the still engine's tests and measurements: a fine texture seen by a
// camera whose pixels each integrate a box of the texture, moved by known sub-pixel shifts
// (or turned and zoomed), with noise, blur or an object on demand; an in-memory frame source;
// PSNR. Header only, on the image layer.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/frame_source.h"

namespace still_scene {

// A texture of width x height canvas pixels (packed B, G, R), seen through a summed-area
// table: the mean over any whole-pixel rectangle is exact.
class CCanvas {
public:
    CCanvas(std::vector<std::uint8_t> bgr, int width, int height)
        : m_nWidth(width), m_nHeight(height), m_bgr(std::move(bgr)) {
        m_sums.assign(std::size_t(width + 1) * (height + 1) * 3, 0);
        for (int y = 0; y < height; ++y) {
            std::uint64_t row[3] = {0, 0, 0};
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k) {
                    row[k] += m_bgr[(std::size_t(y) * width + x) * 3 + k];
                    Sum(x + 1, y + 1, k) = Sum(x + 1, y, k) + row[k];
                }
        }
    }
    // A fine random texture: blobs of a few canvas pixels over smooth shading, with stripes.
    static CCanvas Random(int width, int height, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> level(0, 255);
        const int cell = 3;
        const int cw = width / cell + 2, ch = height / cell + 2;
        std::vector<int> cells(std::size_t(cw) * ch * 3);
        for (int& c : cells) c = level(rng);
        std::vector<std::uint8_t> bgr(std::size_t(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k) {
                    const int c = cells[(std::size_t(y / cell) * cw + x / cell) * 3 + k];
                    bgr[(std::size_t(y) * width + x) * 3 + k] = std::uint8_t(
                        std::clamp(0.6 * c + 50 + 40 * std::sin(x * 0.01 + k) * std::cos(y * 0.013),
                                   0.0, 255.0));
                }
        return CCanvas(std::move(bgr), width, height);
    }

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // A frame of width x height whose pixel (x, y) is the mean of the canvas block of `box`
    // canvas pixels a side at ((x + 0.5) box + ox - box / 2, ...): the texture moved by
    // (-ox, -oy) canvas pixels. The frame shows the texture with frame(x, y) =
    // texture-at-frame-scale(x + ox / box, y + oy / box).
    SFrame Frame(int width, int height, int box, int ox, int oy, std::int64_t timeMs = 0) const {
        SFrame frame;
        frame.timeMs = timeMs;
        frame.width = width;
        frame.height = height;
        frame.bgr.resize(std::size_t(width) * height * 3);
        const std::uint64_t area = std::uint64_t(box) * box;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int x0 = std::clamp(x * box + ox, 0, m_nWidth - box);
                const int y0 = std::clamp(y * box + oy, 0, m_nHeight - box);
                for (int k = 0; k < 3; ++k) {
                    const std::uint64_t s = Sum(x0 + box, y0 + box, k) - Sum(x0, y0 + box, k) -
                                            Sum(x0 + box, y0, k) + Sum(x0, y0, k);
                    frame.bgr[(std::size_t(y) * width + x) * 3 + k] =
                        std::uint8_t((2 * s + area) / (2 * area));
                }
            }
        return frame;
    }

    // A frame of the texture turned by `degrees` and zoomed by `zoom` about the frame's centre,
    // each pixel the mean of box x box canvas pixels taken at the turned places (nearest).
    // A point (u, v) of the frame shows the texture at frame scale centre + R(u - centre) / zoom.
    SFrame Turned(int width, int height, int box, double degrees, double zoom) const {
        SFrame frame;
        frame.width = width;
        frame.height = height;
        frame.bgr.resize(std::size_t(width) * height * 3);
        const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
        const double cx = width / 2.0, cy = height / 2.0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double sum[3] = {0, 0, 0};
                for (int j = 0; j < box; ++j)
                    for (int i = 0; i < box; ++i) {
                        const double u = x + (i + 0.5) / box - cx, v = y + (j + 0.5) / box - cy;
                        const double tx = cx + (c * u - s * v) / zoom,
                                     ty = cy + (s * u + c * v) / zoom;
                        const int px = std::clamp(int(std::floor(tx * box)), 0, m_nWidth - 1);
                        const int py = std::clamp(int(std::floor(ty * box)), 0, m_nHeight - 1);
                        for (int k = 0; k < 3; ++k)
                            sum[k] += m_bgr[(std::size_t(py) * m_nWidth + px) * 3 + k];
                    }
                for (int k = 0; k < 3; ++k)
                    frame.bgr[(std::size_t(y) * width + x) * 3 + k] =
                        std::uint8_t(std::lround(sum[k] / (box * box)));
            }
        return frame;
    }

private:
    std::uint64_t& Sum(int x, int y, int k) {
        return m_sums[(std::size_t(y) * (m_nWidth + 1) + x) * 3 + k];
    }
    std::uint64_t Sum(int x, int y, int k) const {
        return m_sums[(std::size_t(y) * (m_nWidth + 1) + x) * 3 + k];
    }

    int m_nWidth;
    int m_nHeight;
    std::vector<std::uint8_t> m_bgr;
    std::vector<std::uint64_t> m_sums;
};

// Gaussian noise of `sigma`, rounded and clipped.
inline void AddNoise(SFrame& frame, double sigma, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, sigma);
    for (std::uint8_t& v : frame.bgr)
        v = std::uint8_t(std::clamp(std::lround(v + noise(rng)), 0L, 255L));
}

// A separable Gaussian blur of `sigma` pixels, clamped at the edges.
inline void Blur(SFrame& frame, double sigma) {
    const int r = int(std::ceil(3 * sigma));
    std::vector<double> taps(std::size_t(2 * r + 1));
    double total = 0;
    for (int i = -r; i <= r; ++i)
        total += taps[std::size_t(i + r)] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& t : taps) t /= total;
    const int w = frame.width, h = frame.height;
    std::vector<double> a(frame.bgr.begin(), frame.bgr.end()), b(a.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k) {
                    double s = 0;
                    for (int i = -r; i <= r; ++i) {
                        const int xx = pass == 0 ? std::clamp(x + i, 0, w - 1) : x;
                        const int yy = pass == 1 ? std::clamp(y + i, 0, h - 1) : y;
                        s += taps[std::size_t(i + r)] * a[(std::size_t(yy) * w + xx) * 3 + k];
                    }
                    b[(std::size_t(y) * w + x) * 3 + k] = s;
                }
        std::swap(a, b);
    }
    for (std::size_t i = 0; i < a.size(); ++i)
        frame.bgr[i] = std::uint8_t(std::clamp(std::lround(a[i]), 0L, 255L));
}

// A filled rectangle of one colour.
inline void Paint(SFrame& frame, int x0, int y0, int x1, int y1, std::uint8_t b, std::uint8_t g,
                  std::uint8_t r) {
    for (int y = std::max(0, y0); y < std::min(frame.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(frame.width, x1); ++x) {
            std::uint8_t* p = frame.bgr.data() + (std::size_t(y) * frame.width + x) * 3;
            p[0] = b, p[1] = g, p[2] = r;
        }
}

// PSNR of `a` against `b` over the pixels at least `border` from the edges.
inline double Psnr(const SFrame& a, const SFrame& b, int border) {
    double sum = 0;
    std::size_t n = 0;
    for (int y = border; y < a.height - border; ++y)
        for (int x = border; x < a.width - border; ++x)
            for (int k = 0; k < 3; ++k) {
                const std::size_t i = (std::size_t(y) * a.width + x) * 3 + k;
                const double d = double(a.bgr[i]) - b.bgr[i];
                sum += d * d;
                ++n;
            }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Frames held in memory. With `failAt` set, reading that frame fails (every time).
class CMemorySource : public IFrameSource {
public:
    explicit CMemorySource(std::vector<SFrame> frames, int failAt = -1)
        : m_frames(std::move(frames)), m_nFailAt(failAt) {}
    CResult<bool> Next(SFrame& frame) override {
        if (m_nNext == m_nFailAt)
            return CStatus::Failure("frame " + std::to_string(m_nNext) + " cannot be decoded");
        if (m_nNext >= int(m_frames.size()))
            return false;
        frame = m_frames[std::size_t(m_nNext++)];
        return true;
    }
    CStatus Rewind() override {
        m_nNext = 0;
        ++m_nRewinds;
        return {};
    }
    int Rewinds() const { return m_nRewinds; }

private:
    std::vector<SFrame> m_frames;
    int m_nFailAt;
    int m_nNext = 0;
    int m_nRewinds = 0;
};

}  // namespace still_scene
