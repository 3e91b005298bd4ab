// Where the median and the sigma clip keep their pictures: memory straight from the system up
// to a budget, then one temporary file without a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

// Memory straight from the system, given back whole on release: faulted in at once, or
// (bFaultNow false) later, a piece at a time, by FaultIn.
class CMappedBytes {
public:
    CMappedBytes() = default;
    // Throws std::bad_alloc when the system has no memory for it.
    explicit CMappedBytes(std::size_t bytes, bool bFaultNow = true);
    ~CMappedBytes();
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

// The pictures of a median or sigma-clip job on the grid, in the order they were used: in memory
// while they fit the budget, then all of them in a temporary file. A failure of the file gives
// the system's reason in *why; the stacker says which store and where.
class CFrameStore {
public:
    CFrameStore(std::size_t frameBytes, std::size_t memoryBytes, std::string dir)
        : m_nFrameBytes(frameBytes), m_nMemoryBytes(memoryBytes), m_strDir(std::move(dir)) {}
    ~CFrameStore();
    CFrameStore(const CFrameStore&) = delete;
    CFrameStore& operator=(const CFrameStore&) = delete;

    std::size_t Frames() const { return m_nFrames; }
    const std::string& Folder() const { return m_strDir; }
    bool InMemory() const { return m_fd < 0; }
    const std::uint8_t* MemoryFrame(std::size_t i) const { return m_memory[i]; }
    std::uint64_t FileBytes() const;

    // Slots: memory for pictures placed straight into the store; any thread. A slot is faulted
    // in by the thread that takes it, outside the lock: the placing threads share the cost
    // evenly and never wait for each other's chunk.
    std::uint8_t* TakeSlot();
    void ReturnSlot(std::uint8_t* slot);
    // Gives the pictures' memory back, each of `threads` threads a share of the chunks at once
    // (a chunk goes with the share its middle lies in): the system frees pages on several threads
    // side by side, but a mapping's end only on one. The store holds nothing afterwards.
    void Release(int threads);

    // Takes a slot's picture as it is.
    void AppendSlot(const std::uint8_t* slot);

    // Fails with the system's reason when the temporary file cannot take the picture.
    CStatus Append(const std::uint8_t* frame);

    // `bytes` bytes from `offset` within picture `frame` of the file.
    CStatus Read(std::size_t frame, std::size_t offset, std::size_t bytes, std::uint8_t* dst) const;

private:
    // A slot from the free ones or a new chunk, not faulted in yet; none past the budget.
    std::uint8_t* TakeSlotUnfaulted();

    // Moves the pictures held so far to a new file that has no name in the folder, so nothing is
    // left behind whatever way the job ends.
    CStatus Spill();

    CStatus WriteAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t at);

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
