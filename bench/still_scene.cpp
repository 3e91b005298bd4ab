// Frames of a panning camera made from a photograph, and the registration and PSNR that
// measure a result against it (see still_scene.h).
#include "still_scene.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace still_scene {

namespace {

constexpr int kLobes = 3;

double Lanczos(double t) {
    t = std::fabs(t);
    if (t < 1e-12)
        return 1.0;
    if (t >= kLobes)
        return 0.0;
    const double pt = std::numbers::pi * t;
    return kLobes * std::sin(pt) * std::sin(pt / kLobes) / (pt * pt);
}

// One axis of a resampling: output i takes input (i + m_nOffset + k), k = 0..taps-1, with
// m_weights[k] (the same for every i: a shift moves every pixel alike).
struct CTaps {
    int m_nOffset = 0;
    std::vector<double> m_weights;
};

CTaps ShiftTaps(double shift) {
    // out(i) = in(i - shift): the source position p = i - shift splits into floor and fraction.
    const double whole = std::floor(-shift);
    const double t = -shift - whole;
    CTaps taps;
    taps.m_nOffset = int(whole) - kLobes + 1;
    double sum = 0;
    for (int k = 0; k < 2 * kLobes; ++k) {
        const double w = Lanczos(t - (k - kLobes + 1));
        taps.m_weights.push_back(w);
        sum += w;
    }
    for (double& w : taps.m_weights) w /= sum;
    return taps;
}

CTaps GaussTaps(double sigma) {
    const int radius = int(std::ceil(3.5 * sigma));
    CTaps taps;
    taps.m_nOffset = -radius;
    double sum = 0;
    for (int k = -radius; k <= radius; ++k) {
        const double w = std::exp(-0.5 * k * k / (sigma * sigma));
        taps.m_weights.push_back(w);
        sum += w;
    }
    for (double& w : taps.m_weights) w /= sum;
    return taps;
}

// Rows with `horizontal`, then columns with `vertical`; samples beyond an edge repeat it.
CPicture Separable(const CPicture& in, const CTaps& horizontal, const CTaps& vertical) {
    const int w = in.m_nWidth, h = in.m_nHeight;
    CPicture across(w, h);
    const int nh = int(horizontal.m_weights.size());
    for (int y = 0; y < h; ++y) {
        const double* src = in.Row(y);
        double* dst = across.Row(y);
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < nh; ++k) {
                const int sx = std::clamp(x + horizontal.m_nOffset + k, 0, w - 1);
                const double wk = horizontal.m_weights[std::size_t(k)];
                for (int c = 0; c < 3; ++c) dst[3 * x + c] += wk * src[3 * sx + c];
            }
    }
    CPicture out(w, h);
    const int nv = int(vertical.m_weights.size());
    for (int y = 0; y < h; ++y) {
        double* dst = out.Row(y);
        for (int k = 0; k < nv; ++k) {
            const int sy = std::clamp(y + vertical.m_nOffset + k, 0, h - 1);
            const double wk = vertical.m_weights[std::size_t(k)];
            const double* src = across.Row(sy);
            for (int i = 0; i < 3 * w; ++i) dst[i] += wk * src[i];
        }
    }
    return out;
}

// Grey values, mean-free and Hann-tapered, for the phase correlation.
std::vector<float> TaperedGrey(const CPicture& picture) {
    const int w = picture.m_nWidth, h = picture.m_nHeight;
    std::vector<double> grey(std::size_t(w) * h);
    double mean = 0;
    for (int y = 0; y < h; ++y) {
        const double* row = picture.Row(y);
        for (int x = 0; x < w; ++x) {
            const double g = (row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3;
            grey[std::size_t(y) * w + x] = g;
            mean += g;
        }
    }
    mean /= double(grey.size());
    std::vector<float> out(grey.size());
    for (int y = 0; y < h; ++y) {
        const double wy = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (y + 0.5) / h);
        for (int x = 0; x < w; ++x) {
            const double wx = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (x + 0.5) / w);
            const std::size_t i = std::size_t(y) * w + x;
            out[i] = float((grey[i] - mean) * wx * wy);
        }
    }
    return out;
}

// The correlation surface at non-whole places from the half spectrum `cross` (h rows of
// w / 2 + 1): R(x, y) = sum over all frequencies of cross(u, v) e^(i 2 pi (u x / w + v y / h)),
// the missing half being the conjugate of the stored one. Evaluated on the grid
// x0 + i * step, y0 + j * step, |i|, |j| <= reach; the best place is returned.
CShift RefineOnGrid(const std::vector<std::complex<double>>& cross, int w, int h, double x0,
                    double y0, double step, int reach) {
    const int half = w / 2 + 1;
    const int n = 2 * reach + 1;
    // First along the columns: d(u, j) = sum_v cross(u, v) e^(i 2 pi v' y_j / h), v' signed.
    std::vector<std::complex<double>> d(std::size_t(half) * n);
    for (int j = 0; j < n; ++j) {
        const double y = y0 + (j - reach) * step;
        for (int v = 0; v < h; ++v) {
            const int vs = v < (h + 1) / 2 ? v : v - h;
            const std::complex<double> turn = std::polar(1.0, 2 * std::numbers::pi * vs * y / h);
            const std::complex<double>* row = cross.data() + std::size_t(v) * half;
            std::complex<double>* out = d.data() + std::size_t(j) * half;
            for (int u = 0; u < half; ++u) out[u] += row[u] * turn;
        }
    }
    CShift best{x0, y0};
    double bestValue = -1e300;
    for (int i = 0; i < n; ++i) {
        const double x = x0 + (i - reach) * step;
        for (int j = 0; j < n; ++j) {
            const std::complex<double>* row = d.data() + std::size_t(j) * half;
            double value = 0;
            for (int u = 0; u < half; ++u) {
                // u = 0 and the Nyquist column stand once, every other column for itself and
                // its mirror.
                const double weight = (u == 0 || (w % 2 == 0 && u == w / 2)) ? 1.0 : 2.0;
                value +=
                    weight * (row[u] * std::polar(1.0, 2 * std::numbers::pi * u * x / w)).real();
            }
            if (value > bestValue) {
                bestValue = value;
                best = {x, y0 + (j - reach) * step};
            }
        }
    }
    return best;
}

CFrameRecipe At(double dx, double dy) {
    CFrameRecipe recipe;
    recipe.m_dx = dx;
    recipe.m_dy = dy;
    return recipe;
}

}  // namespace

CPicture FromDib(CDibImage& image) {
    CPicture picture(image.m_nWidth, image.m_nHeight);
    for (int y = 0; y < image.m_nHeight; ++y) {
        const std::uint8_t* src = image.TopRow(y);
        double* dst = picture.Row(y);
        for (int i = 0; i < 3 * image.m_nWidth; ++i) dst[i] = src[i];
    }
    return picture;
}

void ToDib(const CPicture& picture, CDibImage& image) {
    if (CStatus made = image.Create(picture.m_nWidth, picture.m_nHeight, 24); !made) {
        std::fprintf(stderr, "still_scene: %s\n", made.Reason().c_str());
        std::exit(1);
    }
    for (int y = 0; y < picture.m_nHeight; ++y) {
        const double* src = picture.Row(y);
        std::uint8_t* dst = image.TopRow(y);
        for (int i = 0; i < 3 * picture.m_nWidth; ++i)
            dst[i] = std::uint8_t(std::clamp(std::floor(src[i] + 0.5), 0.0, 255.0));
    }
}

CPicture Crop(const CPicture& picture, int left, int top, int width, int height) {
    CPicture out(width, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(picture.Row(top + y) + 3 * left, 3 * width, out.Row(y));
    return out;
}

CPicture Shift(const CPicture& picture, double dx, double dy) {
    return Separable(picture, ShiftTaps(dx), ShiftTaps(dy));
}

CPicture BoxDown2(const CPicture& picture) {
    CPicture out(picture.m_nWidth / 2, picture.m_nHeight / 2);
    for (int y = 0; y < out.m_nHeight; ++y) {
        const double* a = picture.Row(2 * y);
        const double* b = picture.Row(2 * y + 1);
        double* dst = out.Row(y);
        for (int x = 0; x < out.m_nWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const int i = 6 * x + c;
                dst[3 * x + c] = (a[i] + a[i + 3] + b[i] + b[i + 3]) / 4;
            }
    }
    return out;
}

CPicture GaussianBlur(const CPicture& picture, double sigma) {
    const CTaps taps = GaussTaps(sigma);
    return Separable(picture, taps, taps);
}

void AddNoise(CPicture& picture, double sigma, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, sigma);
    for (double& v : picture.m_values) v += noise(rng);
}

void PaintDisc(CPicture& picture, double cx, double cy, double radius, const double (&bgr)[3]) {
    const int y0 = std::max(0, int(std::floor(cy - radius)));
    const int y1 = std::min(picture.m_nHeight - 1, int(std::ceil(cy + radius)));
    const int x0 = std::max(0, int(std::floor(cx - radius)));
    const int x1 = std::min(picture.m_nWidth - 1, int(std::ceil(cx + radius)));
    for (int y = y0; y <= y1; ++y) {
        double* row = picture.Row(y);
        for (int x = x0; x <= x1; ++x) {
            const double ex = x - cx, ey = y - cy;
            if (ex * ex + ey * ey <= radius * radius)
                for (int c = 0; c < 3; ++c) row[3 * x + c] = bgr[c];
        }
    }
}

bool ParseVariant(const std::string& text, Variant& variant) {
    if (text == "plain")
        variant = Variant::Plain;
    else if (text == "blur")
        variant = Variant::Blur;
    else if (text == "object")
        variant = Variant::Object;
    else
        return false;
    return true;
}

std::vector<CFrameRecipe> PlanFrames(int count, Variant variant, std::uint32_t seed, int frameWidth,
                                     int frameHeight) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> end(-1.2, 1.2);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    const double ax = end(rng), ay = end(rng), bx = end(rng), by = end(rng);
    std::vector<CFrameRecipe> frames(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double t = count > 1 ? double(i) / (count - 1) : 0.0;
        frames[std::size_t(i)].m_dx = ax + (bx - ax) * t + jitter(rng);
        frames[std::size_t(i)].m_dy = ay + (by - ay) * t + jitter(rng);
    }
    const int marked = std::max(1, int(std::lround(count / 5.0)));
    if (variant == Variant::Blur) {
        std::vector<int> order;
        for (int i = 1; i < count; ++i) order.push_back(i);
        std::shuffle(order.begin(), order.end(), rng);
        for (int i = 0; i < marked && i < int(order.size()); ++i)
            frames[std::size_t(order[std::size_t(i)])].m_bBlurred = true;
    } else if (variant == Variant::Object) {
        const int first = std::max(1, count / 2 - marked / 2);
        for (int k = 0; k < marked && first + k < count; ++k) {
            CFrameRecipe& frame = frames[std::size_t(first + k)];
            frame.m_bCovered = true;
            frame.m_dDiscX = frameWidth * (k + 0.5) / marked;
            frame.m_dDiscY = frameHeight * 0.45;
        }
    }
    return frames;
}

CPicture RenderFrame(const CPicture& photograph, int margin, const CFrameRecipe& recipe) {
    const CPicture moved = Shift(photograph, 2 * recipe.m_dx, 2 * recipe.m_dy);
    CPicture frame = BoxDown2(Crop(moved, margin, margin, photograph.m_nWidth - 2 * margin,
                                   photograph.m_nHeight - 2 * margin));
    if (recipe.m_bBlurred)
        frame = GaussianBlur(frame, 1.6);
    if (recipe.m_bCovered) {
        static const double kColour[3] = {40, 60, 170};
        PaintDisc(frame, recipe.m_dDiscX, recipe.m_dDiscY, frame.m_nHeight * 0.12, kColour);
    }
    return frame;
}

CShift EstimateShift(const CPicture& image, const CPicture& reference) {
    const int w = image.m_nWidth, h = image.m_nHeight;
    const int half = w / 2 + 1;
    std::vector<float> a = TaperedGrey(image), b = TaperedGrey(reference);
    auto* spectrum = fftwf_alloc_complex(std::size_t(h) * half);
    auto* real = fftwf_alloc_real(std::size_t(w) * h);
    const fftwf_plan forward = fftwf_plan_dft_r2c_2d(h, w, real, spectrum, FFTW_ESTIMATE);
    const fftwf_plan backward = fftwf_plan_dft_c2r_2d(h, w, spectrum, real, FFTW_ESTIMATE);

    std::copy(b.begin(), b.end(), real);
    fftwf_execute(forward);
    std::vector<std::complex<double>> refSpectrum(std::size_t(h) * half);
    for (std::size_t i = 0; i < refSpectrum.size(); ++i)
        refSpectrum[i] = {spectrum[i][0], spectrum[i][1]};
    std::copy(a.begin(), a.end(), real);
    fftwf_execute(forward);

    // Normalised cross-power spectrum, weighted by a Gaussian of the frequency so that the
    // noisy highest frequencies do not scatter the peak.
    constexpr double kLowPass = 0.15;  // cycles a pixel
    std::vector<std::complex<double>> cross(refSpectrum.size());
    for (int v = 0; v < h; ++v) {
        const double fy = double(v < (h + 1) / 2 ? v : v - h) / h;
        for (int u = 0; u < half; ++u) {
            const double fx = double(u) / w;
            const std::size_t i = std::size_t(v) * half + u;
            const std::complex<double> c =
                std::complex<double>(spectrum[i][0], spectrum[i][1]) * std::conj(refSpectrum[i]);
            const double magnitude = std::abs(c);
            const double weight = std::exp(-(fx * fx + fy * fy) / (2 * kLowPass * kLowPass));
            cross[i] = magnitude > 1e-20 ? c / magnitude * weight : 0.0;
            spectrum[i][0] = float(cross[i].real());
            spectrum[i][1] = float(cross[i].imag());
        }
    }
    fftwf_execute(backward);
    int px = 0, py = 0;
    float peak = real[0];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (real[std::size_t(y) * w + x] > peak) {
                peak = real[std::size_t(y) * w + x];
                px = x;
                py = y;
            }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(backward);
    fftwf_free(spectrum);
    fftwf_free(real);

    // The peak at index p stands for a shift of p, or p - size past the middle.
    const double x0 = px < (w + 1) / 2 ? px : px - w;
    const double y0 = py < (h + 1) / 2 ? py : py - h;
    const CShift coarse = RefineOnGrid(cross, w, h, x0, y0, 1.0 / 8, 8);
    return RefineOnGrid(cross, w, h, coarse.m_dx, coarse.m_dy, 1.0 / 128, 16);
}

double Psnr(const CPicture& a, const CPicture& b, int border) {
    double squares = 0;
    std::size_t count = 0;
    for (int y = border; y < a.m_nHeight - border; ++y) {
        const double* pa = a.Row(y);
        const double* pb = b.Row(y);
        for (int i = 3 * border; i < 3 * (a.m_nWidth - border); ++i) {
            const double d = pa[i] - pb[i];
            squares += d * d;
            ++count;
        }
    }
    const double mse = count ? squares / double(count) : 0.0;
    return mse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

double PsnrAgainstPhotograph(const CPicture& image, const CPicture& photograph, int margin,
                             int border, CShift* found) {
    const int fullWidth = photograph.m_nWidth - 2 * margin;
    const int fullHeight = photograph.m_nHeight - 2 * margin;
    const bool bFull = image.m_nWidth > fullWidth / 2;
    // The whole pixels of the shift move the cut, only the fraction is interpolated, so that a
    // shift larger than the margin still finds its reference inside the photograph.
    const auto reference = [&](const CShift& shift) {
        const int nx = int(std::lround(shift.m_dx)), ny = int(std::lround(shift.m_dy));
        CPicture moved;
        int left = 0, top = 0;
        if (bFull) {
            moved = Shift(photograph, shift.m_dx - nx, shift.m_dy - ny);
            left = margin + (fullWidth - image.m_nWidth) / 2 - nx;
            top = margin + (fullHeight - image.m_nHeight) / 2 - ny;
        } else {
            // Frames of the whole photograph, margin included: a frame pixel covers two of it.
            moved = RenderFrame(photograph, 0, At(shift.m_dx - nx, shift.m_dy - ny));
            left = margin / 2 + (fullWidth / 2 - image.m_nWidth) / 2 - nx;
            top = margin / 2 + (fullHeight / 2 - image.m_nHeight) / 2 - ny;
        }
        left = std::clamp(left, 0, moved.m_nWidth - image.m_nWidth);
        top = std::clamp(top, 0, moved.m_nHeight - image.m_nHeight);
        return Crop(moved, left, top, image.m_nWidth, image.m_nHeight);
    };
    CShift shift;
    for (int round = 0; round < 3; ++round) {
        const CShift rest = EstimateShift(image, reference(shift));
        shift.m_dx += rest.m_dx;
        shift.m_dy += rest.m_dy;
    }
    if (found)
        *found = shift;
    return Psnr(image, reference(shift), border);
}

CPicture ShiftAndAdd(const std::vector<CPicture>& frames, const std::vector<CShift>& shifts,
                     int scale) {
    const int fw = frames.front().m_nWidth, fh = frames.front().m_nHeight;
    const int w = fw * scale, h = fh * scale;
    std::vector<double> sums(std::size_t(w) * h * 3, 0.0), weights(std::size_t(w) * h, 0.0);
    constexpr double kSigma = 0.45;
    constexpr int kReach = 2;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const CPicture& frame = frames[f];
        for (int y = 0; y < fh; ++y) {
            // Frame pixel (x, y) averages the photograph around photograph pixel
            // (2x + 0.5 - 2dx, ...), which is fine pixel (x - dx + 0.5) * scale - 0.5.
            const double fy = (y - shifts[f].m_dy + 0.5) * scale - 0.5;
            const double* src = frame.Row(y);
            for (int x = 0; x < fw; ++x) {
                const double fx = (x - shifts[f].m_dx + 0.5) * scale - 0.5;
                const int cx = int(std::lround(fx)), cy = int(std::lround(fy));
                for (int yy = std::max(0, cy - kReach); yy <= std::min(h - 1, cy + kReach); ++yy)
                    for (int xx = std::max(0, cx - kReach); xx <= std::min(w - 1, cx + kReach);
                         ++xx) {
                        const double ex = xx - fx, ey = yy - fy;
                        const double k = std::exp(-(ex * ex + ey * ey) / (2 * kSigma * kSigma));
                        const std::size_t i = std::size_t(yy) * w + xx;
                        weights[i] += k;
                        for (int c = 0; c < 3; ++c) sums[3 * i + c] += k * src[3 * x + c];
                    }
            }
        }
    }
    CPicture out(w, h);
    for (std::size_t i = 0; i < weights.size(); ++i)
        for (int c = 0; c < 3; ++c)
            out.m_values[3 * i + c] = weights[i] > 0 ? sums[3 * i + c] / weights[i] : 0.0;
    return out;
}

}  // namespace still_scene
