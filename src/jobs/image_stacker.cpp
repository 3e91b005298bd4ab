#include "jobs/image_stacker.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

#include "jobs/parallel_loader.h"
#include "platform/atomic_file.h"

namespace {

// Faults the pages of `bytes` at `p` in with one call: a stack's pictures fill hundreds of
// megabytes, and faulting them in 4 KiB at a time as they are written costs more. Where the
// system cannot, they are faulted in as they are written.
void FaultIn(std::uint8_t* p, std::size_t bytes) {
    static const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = std::uintptr_t(p) & ~(page - 1);
    madvise(reinterpret_cast<void*>(begin), std::uintptr_t(p) + bytes - begin,  // NOLINT
            MADV_POPULATE_WRITE);
}

// Memory straight from the system, given back whole on release: faulted in at once, or
// (bFaultNow false) later, a piece at a time, by FaultIn.
class CMappedBytes {
public:
    CMappedBytes() = default;
    explicit CMappedBytes(std::size_t bytes, bool bFaultNow = true) {
        if (bytes == 0)
            return;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (bFaultNow ? MAP_POPULATE : 0), -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_p = static_cast<std::uint8_t*>(p);
        m_nBytes = bytes;
    }
    ~CMappedBytes() {
        if (m_p)
            munmap(m_p, m_nBytes);
    }
    CMappedBytes(CMappedBytes&& other) noexcept
        : m_p(std::exchange(other.m_p, nullptr)), m_nBytes(std::exchange(other.m_nBytes, 0)) {}
    CMappedBytes& operator=(CMappedBytes&& other) noexcept {
        std::swap(m_p, other.m_p);
        std::swap(m_nBytes, other.m_nBytes);
        return *this;
    }

    std::uint8_t* data() const { return m_p; }
    std::size_t size() const { return m_nBytes; }

private:
    std::uint8_t* m_p = nullptr;
    std::size_t m_nBytes = 0;
};

}  // namespace

// The pictures of a median or sigma-clip job on the grid, in the order they were used: in memory
// while they fit the budget, then all of them in a temporary file. A failure of the file gives
// the system's reason in *why; the stacker says which store and where.
class CImageStacker::CFrameStore {
public:
    CFrameStore(std::size_t frameBytes, std::size_t memoryBytes, std::string dir)
        : m_nFrameBytes(frameBytes), m_nMemoryBytes(memoryBytes), m_strDir(std::move(dir)) {}
    ~CFrameStore() {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFrameStore(const CFrameStore&) = delete;
    CFrameStore& operator=(const CFrameStore&) = delete;

    std::size_t Frames() const { return m_nFrames; }
    const std::string& Folder() const { return m_strDir; }
    bool InMemory() const { return m_fd < 0; }
    const std::uint8_t* MemoryFrame(std::size_t i) const { return m_memory[i]; }
    std::uint64_t FileBytes() const {
        return m_fd < 0 ? 0 : m_nFrames * std::uint64_t(m_nFrameBytes);
    }

    // Slots: memory for pictures placed straight into the store; any thread. A slot is faulted
    // in by the thread that takes it, outside the lock: the placing threads share the cost
    // evenly and never wait for each other's chunk.
    std::uint8_t* TakeSlot() {
        std::uint8_t* slot = TakeSlotUnfaulted();
        if (slot)
            FaultIn(slot, m_nFrameBytes);
        return slot;
    }
    void ReturnSlot(std::uint8_t* slot) {
        std::lock_guard lock(m_slotLock);
        m_freeSlots.push_back(slot);
    }
    // Gives the pictures' memory back, each of `threads` threads a share of the chunks at once
    // (a chunk goes with the share its middle lies in): the system frees pages on several threads
    // side by side, but a mapping's end only on one. The store holds nothing afterwards.
    void Release(int threads) {
        std::size_t total = 0;
        for (const CMappedBytes& chunk : m_chunks) total += chunk.size();
        const auto share = [&](int part) {
            std::size_t at = 0;
            for (const CMappedBytes& chunk : m_chunks) {
                if ((at + chunk.size() / 2) * std::size_t(threads) / total == std::size_t(part))
                    madvise(chunk.data(), chunk.size(), MADV_DONTNEED);
                at += chunk.size();
            }
        };
        {
            std::vector<std::jthread> helpers;
            for (int part = 1; part < threads; ++part) {
                try {
                    helpers.emplace_back(share, part);
                } catch (const std::system_error&) {
                    break;  // its share goes back with the mapping
                }
            }
            share(0);
        }
        m_memory.clear();
        m_freeSlots.clear();
        m_chunks.clear();
    }

    // Takes a slot's picture as it is.
    void AppendSlot(const std::uint8_t* slot) {
        m_memory.push_back(slot);
        ++m_nFrames;
    }

    bool Append(const std::uint8_t* frame, std::string* why) {
        if (m_fd < 0 && (m_nFrames + 1) * m_nFrameBytes <= m_nMemoryBytes) {
            std::uint8_t* slot = nullptr;
            try {
                slot = TakeSlot();
            } catch (const std::bad_alloc&) {
                // The system is short of memory before the budget is: the file takes them all.
            }
            if (slot) {
                std::memcpy(slot, frame, m_nFrameBytes);
                AppendSlot(slot);
                return true;
            }
        }
        if (m_fd < 0 && !Spill(why))
            return false;
        if (!WriteAt(frame, m_nFrameBytes, m_nFrames * std::uint64_t(m_nFrameBytes), why))
            return false;
        ++m_nFrames;
        return true;
    }

    // `bytes` bytes from `offset` within picture `frame` of the file.
    bool Read(std::size_t frame, std::size_t offset, std::size_t bytes, std::uint8_t* dst,
              std::string* why) const {
        std::uint64_t at = frame * std::uint64_t(m_nFrameBytes) + offset;
        while (bytes > 0) {
            const ssize_t got = pread(m_fd, dst, bytes, off_t(at));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (why)
                    *why = got < 0 ? std::strerror(errno) : "the file ended early";
                return false;
            }
            dst += got;
            bytes -= std::size_t(got);
            at += std::uint64_t(got);
        }
        return true;
    }

private:
    // A slot from the free ones or a new chunk, not faulted in yet; none past the budget.
    std::uint8_t* TakeSlotUnfaulted() {
        std::lock_guard lock(m_slotLock);
        if (m_freeSlots.empty()) {
            // Chunks grow with the stack, up to 32 MiB, and never past the budget.
            const std::size_t most =
                std::max<std::size_t>(1, (std::size_t(32) << 20) / m_nFrameBytes);
            const std::size_t budget = m_nMemoryBytes / m_nFrameBytes;
            const std::size_t frames = std::min(
                {std::max<std::size_t>(1, m_nSlots), most, budget - std::min(budget, m_nSlots)});
            if (frames == 0)
                return nullptr;
            m_chunks.emplace_back(frames * m_nFrameBytes, false);
            for (std::size_t i = 0; i < frames; ++i)
                m_freeSlots.push_back(m_chunks.back().data() + (frames - 1 - i) * m_nFrameBytes);
            m_nSlots += frames;
        }
        std::uint8_t* slot = m_freeSlots.back();
        m_freeSlots.pop_back();
        return slot;
    }

    // Moves the pictures held so far to a new file that has no name in the folder, so nothing is
    // left behind whatever way the job ends.
    bool Spill(std::string* why) {
        const CStatus opened = OpenUnnamedFile(m_strDir, m_fd);
        if (!opened) {
            if (why)
                *why = opened.Reason();
            return false;
        }
        for (std::size_t i = 0; i < m_nFrames; ++i)
            if (!WriteAt(MemoryFrame(i), m_nFrameBytes, i * std::uint64_t(m_nFrameBytes), why))
                return false;
        m_chunks.clear();
        m_freeSlots.clear();
        m_memory.clear();
        return true;
    }

    bool WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t at, std::string* why) {
        while (bytes > 0) {
            const ssize_t put = pwrite(m_fd, data, bytes, off_t(at));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                if (why)
                    *why = put < 0 ? std::strerror(errno) : "nothing was written";
                return false;
            }
            data += put;
            bytes -= std::size_t(put);
            at += std::uint64_t(put);
        }
        return true;
    }

    std::size_t m_nFrameBytes;
    std::size_t m_nMemoryBytes;
    std::string m_strDir;
    // Pictures held in memory, several a chunk: no growth spikes, few system calls.
    std::mutex m_slotLock;
    std::vector<CMappedBytes> m_chunks;
    std::vector<std::uint8_t*> m_freeSlots;
    std::size_t m_nSlots = 0;                   // pictures the chunks hold
    std::vector<const std::uint8_t*> m_memory;  // where each picture taken is
    int m_fd = -1;
    std::size_t m_nFrames = 0;
};

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

JobRefusal StackOptionsRefusal(const CStackOptions& options, std::string* detail) {
    if (!(options.m_dKappa > 0) || !std::isfinite(options.m_dKappa)) {
        *detail = std::to_string(options.m_dKappa);
        return JobRefusal::BadKappa;
    }
    if (options.m_nReferenceCandidates < 1) {
        *detail = std::to_string(options.m_nReferenceCandidates);
        return JobRefusal::BadReferenceCount;
    }
    detail->clear();
    if (options.m_nMeanDivisor < 0)
        return JobRefusal::NegativeDivisor;
    if (!(options.m_dMinOverlap >= 0 && options.m_dMinOverlap <= 1))
        return JobRefusal::BadOverlap;
    return JobRefusal::None;
}

bool CImageStacker::CheckOptions(const CStackOptions& options, std::string* why) {
    std::string detail;
    const JobRefusal refusal = StackOptionsRefusal(options, &detail);
    if (refusal == JobRefusal::None)
        return true;
    if (why)
        *why = RefusalReason(refusal, detail);
    return false;
}

bool CImageStacker::Fail(std::string* why, JobProblemKind kind, const std::string& detail,
                         const std::string& system) {
    m_failure = MakeProblem({}, kind, detail, system);
    if (why)
        *why = m_failure.m_strReason;
    return false;
}

bool CImageStacker::Begin(int width, int height, std::string* why) {
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    try {
        m_frame.assign(pixels * 3, 0);
        if (PerPixel(m_options.m_method)) {
            m_store = std::make_unique<CFrameStore>(pixels * 3, m_options.m_nMemoryBytes,
                                                    TempFolder(m_options.m_strTempDir));
        } else {
            m_sums.assign(pixels * 3, 0);
            if (m_options.m_method == StackMethod::MeanOfAdded)
                m_counts.assign(pixels, 0);
        }
        m_placer = std::make_unique<CStackPlacer>(m_options, width, height);
    } catch (const std::bad_alloc&) {
        return Fail(why, JobProblemKind::StackNoMemory);
    }
    m_nWidth = width;
    m_nHeight = height;
    return true;
}

bool CImageStacker::Add(const std::string& path, const CDibImage& image, std::string* why) {
    const CImageView view = ViewOf(image);
    if (!view.m_pTop || image.m_nBitCount != 24) {
        CStackFile file;
        file.m_strPath = path;
        file.m_strReason = "not a 24-bit picture with pixels";
        file.m_leftOut = StackLeftOut::NotAPicture;
        m_files.push_back(file);
        return true;
    }
    if (m_nWidth == 0 && !Begin(view.m_nWidth, view.m_nHeight, why))
        return false;
    if (!m_options.m_bAlign || m_bHaveReference)
        return Process(path, view, false, why);

    // Waiting for the reference: keep the picture until the candidates are all in.
    try {
        CPending pending;
        pending.m_strPath = path;
        pending.m_nWidth = view.m_nWidth;
        pending.m_nHeight = view.m_nHeight;
        pending.m_pixels = PackedCopy(view);
        if (pending.m_pixels.empty())
            throw std::bad_alloc();
        m_pending.push_back(std::move(pending));
    } catch (const std::bad_alloc&) {
        return Fail(why, JobProblemKind::StackNoMemory);
    }
    if (int(m_pending.size()) >= m_options.m_nReferenceCandidates)
        return ChooseReference(why);
    return true;
}

bool CImageStacker::ChooseReference(std::string* why) {
    // The sharpest candidate of the grid's size; the first wins a tie.
    std::size_t best = 0;
    double bestSharpness = -1;
    for (std::size_t i = 0; i < m_pending.size(); ++i) {
        const CPending& p = m_pending[i];
        if (p.m_nWidth != m_nWidth || p.m_nHeight != m_nHeight)
            continue;
        const double s = Sharpness(PackedView(p.m_pixels.data(), p.m_nWidth, p.m_nHeight));
        if (s > bestSharpness) {
            bestSharpness = s;
            best = i;
        }
    }
    const CPending& reference = m_pending[best];
    std::string reason;
    if (!m_placer->SetReference(
            PackedView(reference.m_pixels.data(), reference.m_nWidth, reference.m_nHeight),
            &reason)) {
        return Fail(why, JobProblemKind::Other,
                    "cannot align to " + reference.m_strPath + ": " + reason);
    }
    m_bHaveReference = true;
    std::vector<CPending> pending;
    pending.swap(m_pending);
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const CPending& p = pending[i];
        if (!Process(p.m_strPath, PackedView(p.m_pixels.data(), p.m_nWidth, p.m_nHeight), i == best,
                     why))
            return false;
    }
    return true;
}

CStackPlacer::CStackPlacer(const CStackOptions& options, int width, int height)
    : m_options(options), m_nWidth(width), m_nHeight(height) {}

CStackPlacer::~CStackPlacer() = default;

bool CStackPlacer::SetReference(const CImageView& reference, std::string* why) {
    try {
        m_registration = std::make_unique<CImageRegistration>();
    } catch (const std::bad_alloc&) {
        if (why)
            *why = "not enough memory to register pictures";
        return false;
    }
    return m_registration->SetReference(reference, why);
}

CStackFile CStackPlacer::Place(const std::string& path, const CImageView& image, bool bReference,
                               std::uint8_t* frame) {
    CStackFile file;
    file.m_strPath = path;
    file.m_bReference = bReference;
    file.m_bOtherSize = image.m_nWidth != m_nWidth || image.m_nHeight != m_nHeight;
    if (m_options.m_bAlign && !bReference) {
        const CRegistration found = m_registration
                                        ? m_registration->Register(image, m_options.m_dMinPeakRatio)
                                        : CRegistration{};
        file.m_dPeakRatio = found.m_dPeakRatio;
        if (!found.m_bOk) {
            file.m_strReason = found.m_strReason;
            // Only a picture without contrast has no peak ratio at all.
            file.m_leftOut =
                found.m_dPeakRatio > 0 ? StackLeftOut::WeakPeak : StackLeftOut::NoContrast;
            file.m_dNeededPeakRatio = m_options.m_dMinPeakRatio;
            return file;
        }
        file.m_dx = found.m_dx;
        file.m_dy = found.m_dy;
    }
    const CGridRect rect = ShiftOntoGrid(image, file.m_dx, file.m_dy, m_nWidth, m_nHeight, frame);
    const double share = double(rect.Area()) / (double(m_nWidth) * m_nHeight);
    if (m_options.m_bAlign && (rect.Empty() || share < m_options.m_dMinOverlap)) {
        char text[80];
        std::snprintf(text, sizeof text, "covers only %.0f%% of the reference", share * 100);
        file.m_strReason = text;
        file.m_leftOut = StackLeftOut::SmallOverlap;
        file.m_dCoverage = share;
        return file;
    }
    file.m_covered = rect;
    file.m_bUsed = true;
    return file;
}

bool CImageStacker::Process(const std::string& path, const CImageView& image, bool bReference,
                            std::string* why) {
    const CStackFile file = m_placer->Place(path, image, bReference, m_frame.data());
    return Accumulate(file, m_frame.data(), why);
}

bool CImageStacker::AddPlaced(const CStackFile& file, const std::uint8_t* frame, int width,
                              int height, std::string* why, bool bSlot) {
    {
        std::lock_guard lock(m_beginLock);
        if (m_nWidth == 0 && !Begin(width, height, why))
            return false;
    }
    return Accumulate(file, frame, why, bSlot);
}

std::uint8_t* CImageStacker::TakeSlot(int width, int height, std::size_t frames) {
    if (!PerPixel(m_options.m_method))
        return nullptr;
    {
        std::lock_guard lock(m_beginLock);
        if (m_nWidth == 0 && !Begin(width, height, nullptr))
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

bool CImageStacker::Accumulate(const CStackFile& file, const std::uint8_t* frame, std::string* why,
                               bool bSlot) {
    if (!file.m_bUsed) {
        m_files.push_back(file);
        return true;
    }
    const CGridRect& rect = file.m_covered;
    if (m_store && bSlot) {
        m_store->AppendSlot(frame);
    } else if (m_store) {
        if (std::string system; !m_store->Append(frame, &system))
            return Fail(why, JobProblemKind::StackStoreFailed, m_store->Folder(), system);
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
    return true;
}

bool CImageStacker::Finish(CDibImage& result, std::string* why) {
    if (m_options.m_bAlign && !m_bHaveReference && !m_pending.empty() && !ChooseReference(why))
        return false;
    if (m_nUsed == 0)
        return Fail(why, JobProblemKind::Other, "no picture could be used");
    if (!result.Create(m_nWidth, m_nHeight, 24))
        return Fail(why, JobProblemKind::StackNoMemory);
    return m_store ? FinishPerPixel(result, why) : FinishMeans(result);
}

bool CImageStacker::FinishMeans(CDibImage& result) {
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
    return true;
}

bool CImageStacker::FinishPerPixel(CDibImage& result, std::string* why) {
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
            return Fail(why, JobProblemKind::StackNoMemory);
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

    const int threads = m_options.m_nThreads > 0 ? m_options.m_nThreads : JobWorkerThreads();

    // Rows [yBegin, yEnd) of the tile whose first row is `tileTop`: read from the store (each
    // piece its own rows, so that the reading is shared too), then combined.
    const auto combinePiece = [&](int yBegin, int yEnd, int tileTop, std::string* pieceWhy) {
        if (!bInMemory)
            for (std::size_t f = 0; f < frames; ++f) {
                const int top = std::max(yBegin, rects[f].m_nTop);
                const int bottom = std::min(yEnd, rects[f].m_nBottom);
                if (top < bottom &&
                    !m_store->Read(
                        f, std::size_t(top) * rowBytes, std::size_t(bottom - top) * rowBytes,
                        tile.data() + f * tileStride + std::size_t(top - tileTop) * rowBytes,
                        pieceWhy))
                    return false;
            }
        combineRows(yBegin, yEnd, tileTop);
        return true;
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
        std::vector<std::string> failures(std::size_t(std::max(1, threads)));
        const auto runPieces = [&](std::size_t slot) {
            for (;;) {
                const int top = next.fetch_add(pieceRows);
                if (top >= y1 || bFailed)
                    return;
                if (!combinePiece(top, std::min(y1, top + pieceRows), y0, &failures[slot]))
                    bFailed = true;
            }
        };
        std::vector<std::jthread> helpers;
        for (std::size_t helper = 1; helper < failures.size(); ++helper) {
            try {
                helpers.emplace_back(runPieces, helper);
            } catch (const std::system_error&) {
                break;  // fewer threads: the pieces are shared by those that started
            }
        }
        runPieces(0);
        helpers.clear();  // joins
        if (bFailed) {
            // A piece fails only in reading the temporary store back.
            const auto failure = std::find_if(failures.begin(), failures.end(),
                                              [](const std::string& f) { return !f.empty(); });
            return Fail(why, JobProblemKind::StackStoreFailed, m_store->Folder(),
                        failure != failures.end() ? *failure : std::string());
        }
    }
    // Hundreds of megabytes go back quicker on all the threads than at the end on one.
    if (bInMemory && threads > 1)
        m_store->Release(threads);
    return true;
}

std::string EscapeToUtf8(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        // The length of a well-formed sequence starting here, or 0 (RFC 3629: no overlong
        // forms, no surrogates, nothing above U+10FFFF).
        std::size_t length = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xF4) {
            const std::size_t want = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            if (i + want <= size && bytes[i + 1] >= low && bytes[i + 1] <= high) {
                length = want;
                for (std::size_t k = 2; k < want; ++k)
                    if ((bytes[i + k] & 0xC0) != 0x80)
                        length = 0;
            }
        }
        if (length == 0) {
            out += "\\x";
            out += kHex[lead >> 4];
            out += kHex[lead & 15];
            ++i;
        } else if (lead == '\\') {
            out += "\\\\";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string StackReportCsv(const std::vector<CStackFile>& files) {
    const auto field = [](const std::string& raw) {
        std::string text = EscapeToUtf8(raw);
        if (text.find_first_of(",\"\n\r") == std::string::npos)
            return text;
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '"')
                quoted += '"';
            quoted += c;
        }
        return quoted + "\"";
    };
    std::string csv = "file,dx,dy,status,reason\n";
    for (const CStackFile& file : files) {
        char shift[64];
        std::snprintf(shift, sizeof shift, "%.3f,%.3f", file.m_dx, file.m_dy);
        csv += field(file.m_strPath) + "," + shift + "," + (file.m_bUsed ? "used" : "rejected") +
               "," + field(file.m_bReference ? "reference" : file.m_strReason) + "\n";
    }
    return csv;
}
