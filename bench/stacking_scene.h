// A made-up still scene and noisy, jittered, partly covered grabs of it, for measuring how well
// the stack methods recover the scene. Everything comes from fixed seeds, so every run makes the
// same pictures.
//
// The scene (gradients, hard-edged shapes, fine stripes, thin lines and rows of text-like
// strokes) is drawn once on a canvas 8 times finer than the pictures. A picture is the canvas
// averaged over each pixel's area, so a shift by a multiple of 1/8 pixel is exact, as a camera
// sensor would see it. Grab i shows the scene moved by (dx, dy): grab(x, y) = scene(x - dx,
// y - dy).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "image/jpeg_file.h"

namespace stacking_scene {

inline constexpr int kSuper = 8;   // canvas samples per picture pixel, each way
inline constexpr int kMargin = 4;  // picture pixels of canvas around the picture, each side

class CScene {
public:
    CScene(int width, int height) : m_nWidth(width), m_nHeight(height) {
        m_nCw = (width + 2 * kMargin) * kSuper;
        m_nCh = (height + 2 * kMargin) * kSuper;
        std::vector<std::uint8_t> canvas(std::size_t(m_nCw) * m_nCh * 3);
        Draw(canvas);
        // Summed-area table, one row and column of zeros in front.
        m_integral.assign(std::size_t(m_nCw + 1) * (m_nCh + 1) * 3, 0);
        for (int y = 0; y < m_nCh; ++y) {
            std::uint32_t row[3] = {0, 0, 0};
            for (int x = 0; x < m_nCw; ++x)
                for (int k = 0; k < 3; ++k) {
                    row[k] += canvas[(std::size_t(y) * m_nCw + x) * 3 + k];
                    At(x + 1, y + 1, k) = At(x + 1, y, k) + row[k];
                }
        }
    }

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // The scene moved by (dx, dy), each a multiple of 1/8 within the margin, as a 24-bit
    // picture (B, G, R), each pixel rounded half up.
    void Render(double dx, double dy, CDibImage& image) const {
        if (!image.Create(m_nWidth, m_nHeight, 24))
            std::abort();  // no memory for the picture: the bench cannot run
        const int sx = int(std::lround(dx * kSuper));
        const int sy = int(std::lround(dy * kSuper));
        const int area = kSuper * kSuper;
        for (int y = 0; y < m_nHeight; ++y) {
            std::uint8_t* row = image.TopRow(y);
            const int y0 = (y + kMargin) * kSuper - sy;
            for (int x = 0; x < m_nWidth; ++x) {
                const int x0 = (x + kMargin) * kSuper - sx;
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t s = At(x0 + kSuper, y0 + kSuper, k) -
                                            At(x0, y0 + kSuper, k) - At(x0 + kSuper, y0, k) +
                                            At(x0, y0, k);
                    row[3 * x + k] = std::uint8_t((2 * s + area) / (2 * area));
                }
            }
        }
    }

private:
    std::uint32_t& At(int x, int y, int k) {
        return m_integral[(std::size_t(y) * (m_nCw + 1) + x) * 3 + k];
    }
    std::uint32_t At(int x, int y, int k) const {
        return m_integral[(std::size_t(y) * (m_nCw + 1) + x) * 3 + k];
    }

    // Canvas coordinates are picture pixels (the picture's top-left corner at 0, 0).
    void Draw(std::vector<std::uint8_t>& canvas) const {
        const double w = m_nWidth, h = m_nHeight;
        const auto put = [&](int cx, int cy, double b, double g, double r) {
            if (cx < 0 || cy < 0 || cx >= m_nCw || cy >= m_nCh)
                return;
            std::uint8_t* p = canvas.data() + (std::size_t(cy) * m_nCw + cx) * 3;
            p[0] = std::uint8_t(std::clamp(b, 0.0, 255.0));
            p[1] = std::uint8_t(std::clamp(g, 0.0, 255.0));
            p[2] = std::uint8_t(std::clamp(r, 0.0, 255.0));
        };
        const auto toCanvas = [](double v) { return int(std::floor((v + kMargin) * kSuper)); };
        const auto fill = [&](double x0, double y0, double x1, double y1, auto&& colour) {
            for (int cy = std::max(0, toCanvas(y0)); cy < std::min(m_nCh, toCanvas(y1)); ++cy)
                for (int cx = std::max(0, toCanvas(x0)); cx < std::min(m_nCw, toCanvas(x1)); ++cx) {
                    const double x = (cx + 0.5) / kSuper - kMargin;
                    const double y = (cy + 0.5) / kSuper - kMargin;
                    double b, g, r;
                    if (colour(x, y, b, g, r))
                        put(cx, cy, b, g, r);
                }
        };
        // Background: smooth gradients in every channel.
        fill(-kMargin, -kMargin, w + kMargin, h + kMargin,
             [&](double x, double y, double& b, double& g, double& r) {
                 b = 40 + 150 * x / w;
                 g = 60 + 120 * y / h;
                 r = 200 - 120 * (x + y) / (w + h) + 20 * std::sin(x / 37.0) * std::cos(y / 53.0);
                 return true;
             });
        std::mt19937 rng(20240611);
        std::uniform_real_distribution<double> unit(0, 1);
        // Hard-edged blocks and discs.
        for (int i = 0; i < 14; ++i) {
            const double x0 = unit(rng) * w * 0.9, y0 = unit(rng) * h * 0.55;
            const double bw = 20 + unit(rng) * w * 0.15, bh = 20 + unit(rng) * h * 0.25;
            const double cb = unit(rng) * 255, cg = unit(rng) * 255, cr = unit(rng) * 255;
            const bool disc = i % 3 == 0;
            fill(x0, y0, x0 + bw, y0 + bh,
                 [&](double x, double y, double& b, double& g, double& r) {
                     if (disc) {
                         const double ex = (x - x0 - bw / 2) / (bw / 2),
                                      ey = (y - y0 - bh / 2) / (bh / 2);
                         if (ex * ex + ey * ey > 1)
                             return false;
                     }
                     b = cb, g = cg, r = cr;
                     return true;
                 });
        }
        // Fine stripes (2- and 3-pixel periods) and a checkerboard.
        fill(w * 0.05, h * 0.62, w * 0.3, h * 0.72,
             [](double x, double, double& b, double& g, double& r) {
                 b = g = r = std::fmod(x, 3.0) < 1.5 ? 30 : 220;
                 return true;
             });
        fill(w * 0.05, h * 0.74, w * 0.3, h * 0.84,
             [](double, double y, double& b, double& g, double& r) {
                 b = g = r = std::fmod(y, 4.0) < 2 ? 50 : 200;
                 return true;
             });
        fill(w * 0.32, h * 0.62, w * 0.45, h * 0.84,
             [](double x, double y, double& b, double& g, double& r) {
                 const bool on = (int(std::floor(x / 5)) + int(std::floor(y / 5))) % 2 == 0;
                 b = on ? 240 : 20, g = on ? 200 : 40, r = on ? 30 : 160;
                 return true;
             });
        // Thin slanted lines.
        for (int i = 0; i < 6; ++i) {
            const double ax = unit(rng) * w, ay = unit(rng) * h, bx = unit(rng) * w,
                         by = unit(rng) * h;
            Stroke(canvas, ax, ay, bx, by, 0.6, 250, 250, 250);
        }
        // A light panel with rows of text-like glyphs: strokes between points of a 3 x 5 grid.
        const double px0 = w * 0.5, py0 = h * 0.6, px1 = w * 0.97, py1 = h * 0.95;
        fill(px0, py0, px1, py1, [](double, double, double& b, double& g, double& r) {
            b = 225, g = 235, r = 240;
            return true;
        });
        const double cellW = 11, cellH = 16;
        for (double gy = py0 + 4; gy + cellH < py1; gy += cellH + 4)
            for (double gx = px0 + 4; gx + cellW < px1; gx += cellW + 2) {
                const int strokes = 2 + int(unit(rng) * 3);
                for (int s = 0; s < strokes; ++s) {
                    const int a = int(unit(rng) * 15), b = int(unit(rng) * 15);
                    Stroke(canvas, gx + 1 + (a % 3) * 4, gy + 1 + (a / 3) * 3.4,
                           gx + 1 + (b % 3) * 4, gy + 1 + (b / 3) * 3.4, 0.8, 40, 30, 20);
                }
            }
    }

    // A line segment `half` pixels thick on each side of its centre line.
    void Stroke(std::vector<std::uint8_t>& canvas, double ax, double ay, double bx, double by,
                double half, double b, double g, double r) const {
        const int cx0 =
            std::max(0, int(std::floor((std::min(ax, bx) - half - 1 + kMargin) * kSuper)));
        const int cx1 =
            std::min(m_nCw, int(std::ceil((std::max(ax, bx) + half + 1 + kMargin) * kSuper)));
        const int cy0 =
            std::max(0, int(std::floor((std::min(ay, by) - half - 1 + kMargin) * kSuper)));
        const int cy1 =
            std::min(m_nCh, int(std::ceil((std::max(ay, by) + half + 1 + kMargin) * kSuper)));
        const double vx = bx - ax, vy = by - ay, len2 = vx * vx + vy * vy;
        for (int cy = cy0; cy < cy1; ++cy)
            for (int cx = cx0; cx < cx1; ++cx) {
                const double x = (cx + 0.5) / kSuper - kMargin, y = (cy + 0.5) / kSuper - kMargin;
                double t = len2 > 0 ? ((x - ax) * vx + (y - ay) * vy) / len2 : 0;
                t = std::clamp(t, 0.0, 1.0);
                const double ex = x - (ax + t * vx), ey = y - (ay + t * vy);
                if (ex * ex + ey * ey <= half * half) {
                    std::uint8_t* p = canvas.data() + (std::size_t(cy) * m_nCw + cx) * 3;
                    p[0] = std::uint8_t(b), p[1] = std::uint8_t(g), p[2] = std::uint8_t(r);
                }
            }
    }

    int m_nWidth;
    int m_nHeight;
    int m_nCw = 0;
    int m_nCh = 0;
    std::vector<std::uint32_t> m_integral;
};

// One grab of the set: its true shift and whether the subtitle bar covers it.
struct CGrab {
    std::string m_strPath;
    double m_dx = 0;
    double m_dy = 0;
    bool m_bCovered = false;
};

// Writes `count` grabs "f0000.jpg"... of the scene into `folder` at JPEG quality 75: each moved by
// up to ±2 pixels in 1/8 steps (the first not at all, and never covered: it is the reference),
// with Gaussian noise of sigma 12 on every channel, and on a tenth of them (rounded) a bright
// subtitle bar with dark lettering across the lower middle (the same place on every covered
// grab, as subtitles are).
inline std::vector<CGrab> MakeGrabs(const CScene& scene, const std::filesystem::path& folder,
                                    int count, std::uint32_t seed = 7) {
    std::filesystem::create_directories(folder);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> eighths(-2 * kSuper, 2 * kSuper);
    std::normal_distribution<double> noise(0.0, 12.0);
    std::vector<CGrab> grabs(static_cast<std::size_t>(count));
    const int covered = int(std::lround(count * 0.1));
    std::vector<int> order;
    for (int i = 1; i < count; ++i) order.push_back(i);
    std::shuffle(order.begin(), order.end(), rng);
    for (int i = 0; i < covered && i < int(order.size()); ++i)
        grabs[std::size_t(order[std::size_t(i)])].m_bCovered = true;

    const int w = scene.Width(), h = scene.Height();
    const int barTop = h * 80 / 100, barBottom = h * 88 / 100;
    const int barLeft = w * 15 / 100, barRight = w * 85 / 100;
    CDibImage image;
    for (int i = 0; i < count; ++i) {
        CGrab& grab = grabs[std::size_t(i)];
        if (i > 0) {
            grab.m_dx = eighths(rng) / double(kSuper);
            grab.m_dy = eighths(rng) / double(kSuper);
        }
        scene.Render(grab.m_dx, grab.m_dy, image);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = image.TopRow(y);
            for (int x = 0; x < w; ++x) {
                const bool bar =
                    grab.m_bCovered && y >= barTop && y < barBottom && x >= barLeft && x < barRight;
                // Lettering: dark blocks in the bar's middle band.
                const bool letter = bar && y > barTop + 6 && y < barBottom - 6 && (x / 7) % 3 != 0;
                for (int k = 0; k < 3; ++k) {
                    double v = bar ? (letter ? 20.0 : (k == 0 ? 200.0 : 250.0)) : row[3 * x + k];
                    v += noise(rng);
                    row[3 * x + k] = std::uint8_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
                }
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "f%04d.jpg", i);
        grab.m_strPath = (folder / name).string();
        if (const CStatus written = WriteJpegFile(grab.m_strPath, image, 75, false, true); !written)
            std::fprintf(stderr, "%s: %s\n", grab.m_strPath.c_str(), written.Reason().c_str());
    }
    return grabs;
}

}  // namespace stacking_scene
