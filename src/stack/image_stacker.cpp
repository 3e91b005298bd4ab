#include "stack/image_stacker.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/start_threads.h"

namespace {

std::string TempFolder(const std::string& chosen) {
    if (!chosen.empty())
        return chosen;
    const char* env = std::getenv("TMPDIR");
    return env && *env ? env : "/tmp";
}

bool PerPixel(StackMethod method) {
    return method == StackMethod::Median || method == StackMethod::SigmaClip;
}

}  // namespace

int StackTileRows(int width, int height, std::size_t frames, std::size_t memoryBytes) {
    const std::size_t row = std::size_t(std::max(width, 1)) * 3 * std::max<std::size_t>(frames, 1);
    const std::size_t rows = memoryBytes / row;
    return int(std::clamp<std::size_t>(rows, 1, std::size_t(std::max(height, 1))));
}

CImageStacker::CImageStacker(const CStackOptions& options) : m_options(options) {}

CImageStacker::~CImageStacker() = default;

std::string StackFailureReason(StackFailureKind kind, const std::string& detail,
                               const std::string& system) {
    switch (kind) {
        case StackFailureKind::NoMemory:
            return "not enough memory to stack the pictures";
        case StackFailureKind::StoreFailed:
            return "cannot use the temporary picture store in " + detail + ": " + system;
        case StackFailureKind::Other:
            break;
    }
    return detail;
}

CStatus CImageStacker::Fail(StackFailureKind kind, const std::string& detail,
                            const std::string& system) {
    m_failure.m_kind = kind;
    m_failure.m_strFolder = kind == StackFailureKind::StoreFailed ? detail : std::string();
    m_failure.m_strSystem = system;
    m_failure.m_strReason = StackFailureReason(kind, detail, system);
    return CStatus::Failure(m_failure.m_strReason);
}

CStatus CImageStacker::Begin(int width, int height) {
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    try {
        if (PerPixel(m_options.m_method)) {
            m_store = std::make_unique<CFrameStore>(pixels * 3, m_options.m_nMemoryBytes,
                                                    TempFolder(m_options.m_strTempDir));
        } else {
            m_sums.assign(pixels * 3, 0);
            if (m_options.m_method == StackMethod::MeanOfAdded)
                m_counts.assign(pixels, 0);
        }
    } catch (const std::bad_alloc&) {
        return Fail(StackFailureKind::NoMemory);
    }
    m_nWidth = width;
    m_nHeight = height;
    return {};
}

CStatus CImageStacker::AddPlaced(const CStackFile& file, const std::uint8_t* frame, int width,
                                 int height, bool bSlot) {
    {
        std::lock_guard lock(m_beginLock);
        if (m_nWidth == 0)
            if (CStatus begun = Begin(width, height); !begun)
                return begun;
    }
    return Accumulate(file, frame, bSlot);
}

std::uint8_t* CImageStacker::TakeSlot(int width, int height, std::size_t frames) {
    if (!PerPixel(m_options.m_method))
        return nullptr;
    {
        std::lock_guard lock(m_beginLock);
        if (m_nWidth == 0 && !Begin(width, height))
            return nullptr;
    }
    if (width != m_nWidth || height != m_nHeight ||
        frames > m_options.m_nMemoryBytes / (std::size_t(width) * std::size_t(height) * 3))
        return nullptr;
    try {
        return m_store->TakeSlot();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CImageStacker::ReturnSlot(std::uint8_t* slot) {
    m_store->ReturnSlot(slot);
}

CStatus CImageStacker::Accumulate(const CStackFile& file, const std::uint8_t* frame, bool bSlot) {
    if (!file.m_bUsed) {
        m_files.push_back(file);
        return {};
    }
    const CGridRect& rect = file.m_covered;
    if (m_store && bSlot) {
        m_store->AppendSlot(frame);
    } else if (m_store) {
        if (CStatus appended = m_store->Append(frame); !appended)
            return Fail(StackFailureKind::StoreFailed, m_store->Folder(), appended.Reason());
    } else {
        const bool bCount = m_options.m_method == StackMethod::MeanOfAdded;
        for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
            const std::size_t first = std::size_t(y) * m_nWidth + rect.m_nLeft;
            const std::uint8_t* src = frame + first * 3;
            std::uint32_t* sum = m_sums.data() + first * 3;
            const int n = (rect.m_nRight - rect.m_nLeft) * 3;
            for (int i = 0; i < n; ++i) sum[i] += src[i];
            if (bCount) {
                std::uint32_t* count = m_counts.data() + first;
                for (int x = rect.m_nLeft; x < rect.m_nRight; ++x) ++*count++;
            }
        }
    }
    ++m_nUsed;
    m_files.push_back(file);
    return {};
}

CStatus CImageStacker::Finish(CDibImage& result) {
    if (m_nUsed == 0)
        return Fail(StackFailureKind::Other, "no picture could be used");
    if (!result.Create(m_nWidth, m_nHeight, 24))
        return Fail(StackFailureKind::NoMemory);
    if (!m_store) {
        FinishMeans(result);
        return {};
    }
    return FinishPerPixel(result);
}

void CImageStacker::FinishMeans(CDibImage& result) {
    const bool bCovering = m_options.m_method == StackMethod::MeanOfAdded;
    const std::uint64_t divisor = m_options.m_nMeanDivisor > 0
                                      ? std::uint64_t(m_options.m_nMeanDivisor)
                                      : std::uint64_t(m_nUsed);
    for (int y = 0; y < m_nHeight; ++y) {
        std::uint8_t* out = result.TopRow(y);
        const std::size_t first = std::size_t(y) * m_nWidth;
        const std::uint32_t* sum = m_sums.data() + first * 3;
        for (int x = 0; x < m_nWidth; ++x) {
            const std::uint64_t n = bCovering ? m_counts[first + std::size_t(x)] : divisor;
            for (int k = 0; k < 3; ++k) {
                const std::uint64_t s = sum[3 * x + k];
                // A divisor below the count of pictures can push a mean past 255.
                out[3 * x + k] =
                    n == 0 ? 0 : std::uint8_t(std::min<std::uint64_t>((2 * s + n) / (2 * n), 255));
            }
        }
    }
}

CStatus CImageStacker::FinishPerPixel(CDibImage& result) {
    std::vector<CGridRect> rects;
    for (const CStackFile& file : m_files)
        if (file.m_bUsed)
            rects.push_back(file.m_covered);
    const std::size_t frames = m_store->Frames();
    const std::size_t rowBytes = std::size_t(m_nWidth) * 3;
    const bool bInMemory = m_store->InMemory();
    const int tileRows = bInMemory
                             ? m_nHeight
                             : StackTileRows(m_nWidth, m_nHeight, frames, m_options.m_nMemoryBytes);
    m_stats.m_nTileRows = tileRows;
    m_stats.m_nStoreFileBytes = m_store->FileBytes();
    CMappedBytes tile;
    if (!bInMemory) {
        try {
            tile = CMappedBytes(frames * tileRows * rowBytes);
        } catch (const std::bad_alloc&) {
            return Fail(StackFailureKind::NoMemory);
        }
    }
    const std::size_t tileStride = std::size_t(tileRows) * rowBytes;

    const bool bMedian = m_options.m_method == StackMethod::Median;
    constexpr std::size_t kBlock = 16;
    constexpr std::size_t kAhead = 4 * 3 * kBlock;
    const double kappa = m_options.m_dKappa;
    // Rows y0..y1 of the tile whose first row is `tileTop`; each piece of rows has its own
    // samples, and writes only its own rows of the result.
    const auto combineRows = [&](int yBegin, int yEnd, int tileTop) {
        struct CActive {
            const std::uint8_t* m_pRow;
            int m_nLeft;
            int m_nRight;
        };
        std::vector<CActive> active;
        active.reserve(frames);
        std::vector<const std::uint8_t*> rows;
        rows.reserve(frames);
        CBlockCombiner combiner;
        const auto combine = [&](const std::uint8_t* samples, std::size_t n, int lanes,
                                 std::uint8_t* out) {
            if (bMedian)
                combiner.Median(samples, n, lanes, out);
            else
                combiner.SigmaClip(samples, n, lanes, kappa, out);
        };
        // A block of pixels of every active row side by side: one pixel's samples then lie in
        // a few kilobytes instead of one page a picture.
        std::vector<std::uint8_t> block(frames * kBlock * 3);
        for (int y = yBegin; y < yEnd; ++y) {
            active.clear();
            rows.clear();
            // Every active picture covers [commonLeft, commonRight): no checks there.
            int commonLeft = 0;
            int commonRight = m_nWidth;
            for (std::size_t f = 0; f < frames; ++f) {
                const CGridRect& r = rects[f];
                if (y < r.m_nTop || y >= r.m_nBottom)
                    continue;
                const std::uint8_t* row =
                    bInMemory ? m_store->MemoryFrame(f) + std::size_t(y) * rowBytes
                              : tile.data() + f * tileStride + std::size_t(y - tileTop) * rowBytes;
                active.push_back({row, r.m_nLeft, r.m_nRight});
                rows.push_back(row);
                commonLeft = std::max(commonLeft, r.m_nLeft);
                commonRight = std::min(commonRight, r.m_nRight);
            }
            commonRight = std::max(commonLeft, commonRight);
            std::uint8_t* out = result.TopRow(y);
            for (int x = 0; x < m_nWidth; ++x) {
                if (x == commonLeft && commonLeft < commonRight) {
                    x = commonRight - 1;
                    continue;
                }
                const std::size_t at = 3 * std::size_t(x);
                std::size_t n = 0;
                for (const CActive& a : active) {
                    if (x < a.m_nLeft || x >= a.m_nRight)
                        continue;
                    std::memcpy(block.data() + 3 * n++, a.m_pRow + at, 3);
                }
                combine(block.data(), n, 3, out + at);
            }
            for (int x0 = commonLeft; x0 < commonRight; x0 += int(kBlock)) {
                const std::size_t bytes = 3 * std::size_t(std::min(int(kBlock), commonRight - x0));
                // Too many rows for the hardware to follow: fetch a few blocks ahead. A whole
                // block is a copy of known size, a few vector moves.
                const auto gather = [&](auto size) {
                    for (std::size_t i = 0; i < rows.size(); ++i) {
                        const std::uint8_t* src = rows[i] + 3 * std::size_t(x0);
                        __builtin_prefetch(src + kAhead);
                        std::memcpy(block.data() + i * size, src, size);
                    }
                };
                if (bytes == 3 * kBlock)
                    gather(std::integral_constant<std::size_t, 3 * kBlock>());
                else
                    gather(bytes);
                combine(block.data(), rows.size(), int(bytes), out + 3 * std::size_t(x0));
            }
        }
    };
    static_assert(3 * kBlock <= CBlockCombiner::kMaxLanes);

    const int threads = m_options.m_nThreads > 0
                            ? m_options.m_nThreads
                            : std::max(1, int(std::thread::hardware_concurrency()));

    // Rows [yBegin, yEnd) of the tile whose first row is `tileTop`: read from the store (each
    // piece its own rows, so that the reading is shared too), then combined.
    const auto combinePiece = [&](int yBegin, int yEnd, int tileTop) {
        if (!bInMemory)
            for (std::size_t f = 0; f < frames; ++f) {
                const int top = std::max(yBegin, rects[f].m_nTop);
                const int bottom = std::min(yEnd, rects[f].m_nBottom);
                if (top >= bottom)
                    continue;
                if (CStatus read = m_store->Read(
                        f, std::size_t(top) * rowBytes, std::size_t(bottom - top) * rowBytes,
                        tile.data() + f * tileStride + std::size_t(top - tileTop) * rowBytes);
                    !read)
                    return read;
            }
        combineRows(yBegin, yEnd, tileTop);
        return CStatus{};
    };
    for (int y0 = 0; y0 < m_nHeight; y0 += tileRows) {
        const int y1 = std::min(m_nHeight, y0 + tileRows);
        ++m_stats.m_nTilePasses;
        // The tile's rows in pieces, taken in turn by this thread and helpers until none is
        // left: a thread slowed by costlier rows or by the system leaves more to the others.
        // From the temporary store, one piece a thread: each piece reads its rows of every
        // picture, and smaller pieces would mean more, smaller reads.
        const int pieces = bInMemory ? 16 * threads : threads;
        const int pieceRows = std::max(1, (y1 - y0 + pieces - 1) / pieces);
        std::atomic<int> next{y0};
        std::atomic<bool> bFailed{false};
        std::vector<CStatus> failures(std::size_t(std::max(1, threads)));
        const auto runPieces = [&](int thread) {
            const std::size_t slot = std::size_t(thread);
            for (;;) {
                const int top = next.fetch_add(pieceRows);
                if (top >= y1 || bFailed)
                    return;
                if (CStatus done = combinePiece(top, std::min(y1, top + pieceRows), y0); !done) {
                    failures[slot] = std::move(done);
                    bFailed = true;
                }
            }
        };
        // Fewer threads when the system refuses some: the pieces go to those that started.
        RunOnThreads(int(failures.size()), runPieces);
        if (bFailed) {
            // A piece fails only in reading the temporary store back.
            const auto failure =
                std::find_if(failures.begin(), failures.end(), [](const CStatus& f) { return !f; });
            return Fail(StackFailureKind::StoreFailed, m_store->Folder(),
                        failure != failures.end() ? failure->Reason() : std::string());
        }
    }
    // Hundreds of megabytes go back quicker on all the threads than at the end on one.
    if (bInMemory && threads > 1)
        m_store->Release(threads);
    return {};
}
