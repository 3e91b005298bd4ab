#include "stack/frame_store.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/atomic_file.h"
#include "platform/start_threads.h"

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

}  // namespace

CMappedBytes::CMappedBytes(std::size_t bytes, bool bFaultNow) {
    if (bytes == 0)
        return;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | (bFaultNow ? MAP_POPULATE : 0), -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_p = static_cast<std::uint8_t*>(p);
    m_nBytes = bytes;
}

CMappedBytes::~CMappedBytes() {
    if (m_p)
        munmap(m_p, m_nBytes);
}

CFrameStore::~CFrameStore() {
    if (m_fd >= 0)
        close(m_fd);
}

std::uint64_t CFrameStore::FileBytes() const {
    return m_fd < 0 ? 0 : m_nFrames * std::uint64_t(m_nFrameBytes);
}

std::uint8_t* CFrameStore::TakeSlot() {
    std::uint8_t* slot = TakeSlotUnfaulted();
    if (slot)
        FaultIn(slot, m_nFrameBytes);
    return slot;
}

void CFrameStore::ReturnSlot(std::uint8_t* slot) {
    std::lock_guard lock(m_slotLock);
    m_freeSlots.push_back(slot);
}

void CFrameStore::Release(int threads) {
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
    RunOnThreads(std::max(1, threads), share);
    m_memory.clear();
    m_freeSlots.clear();
    m_chunks.clear();
}

void CFrameStore::AppendSlot(const std::uint8_t* slot) {
    m_memory.push_back(slot);
    ++m_nFrames;
}

CStatus CFrameStore::Append(const std::uint8_t* frame) {
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
            return {};
        }
    }
    if (m_fd < 0)
        if (CStatus spilled = Spill(); !spilled)
            return spilled;
    if (CStatus written = WriteAt(frame, m_nFrameBytes, m_nFrames * std::uint64_t(m_nFrameBytes));
        !written)
        return written;
    ++m_nFrames;
    return {};
}

CStatus CFrameStore::Read(std::size_t frame, std::size_t offset, std::size_t bytes,
                          std::uint8_t* dst) const {
    std::uint64_t at = frame * std::uint64_t(m_nFrameBytes) + offset;
    while (bytes > 0) {
        const ssize_t got = pread(m_fd, dst, bytes, off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return CStatus::Failure(got < 0 ? std::strerror(errno) : "the file ended early");
        dst += got;
        bytes -= std::size_t(got);
        at += std::uint64_t(got);
    }
    return {};
}

std::uint8_t* CFrameStore::TakeSlotUnfaulted() {
    std::lock_guard lock(m_slotLock);
    if (m_freeSlots.empty()) {
        // Chunks grow with the stack, up to 32 MiB, and never past the budget.
        const std::size_t most = std::max<std::size_t>(1, (std::size_t(32) << 20) / m_nFrameBytes);
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

CStatus CFrameStore::Spill() {
    if (CStatus opened = OpenUnnamedFile(m_strDir, m_fd); !opened)
        return opened;
    for (std::size_t i = 0; i < m_nFrames; ++i)
        if (CStatus written =
                WriteAt(MemoryFrame(i), m_nFrameBytes, i * std::uint64_t(m_nFrameBytes));
            !written)
            return written;
    m_chunks.clear();
    m_freeSlots.clear();
    m_memory.clear();
    return {};
}

CStatus CFrameStore::WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t at) {
    while (bytes > 0) {
        const ssize_t put = pwrite(m_fd, data, bytes, off_t(at));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return CStatus::Failure(put < 0 ? std::strerror(errno) : "nothing was written");
        data += put;
        bytes -= std::size_t(put);
        at += std::uint64_t(put);
    }
    return {};
}
