// CFrameQueue: the bounded ring of frames between the grabbing thread and whoever writes them.
//
// Threads: Push runs on the capture thread; PeekFront, DropFront and every flush run on the UI
// thread or the writer thread. The queue's recursive lock also guards the capture target and
// each flush as a whole (see capture_engine.h); it is the innermost lock of the program: no
// other lock is ever taken while it is held.
//
// The 30 frames are made once when the queue is built and re-used for the whole run; a full
// queue refuses a new frame instead of overwriting an old one, so a frame handed out by
// PeekFront stays valid and unchanged until DropFront releases it. Each frame may carry its
// stamp: the playback position, in milliseconds, at which it was grabbed.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "image/dib_image.h"

class CGrabBitmap;

inline constexpr int kFrameQueueCapacity = 30;
inline constexpr int kFrameWidth = 350;
inline constexpr int kFrameHeight = 240;

class CFrameQueue {
public:
    CFrameQueue();
    virtual ~CFrameQueue();
    CFrameQueue(const CFrameQueue&) = delete;
    CFrameQueue& operator=(const CFrameQueue&) = delete;

    bool IsEmpty();
    bool IsFull();
    // Copies the top-left 350 x 240 pixels of `bitmap` into the next free slot as bottom-up
    // 24-bit rows (pixels the bitmap does not cover become black). False, with nothing
    // changed, when the queue is full. `stampMs` goes with the frame.
    bool Push(const CGrabBitmap& bitmap, std::optional<std::int32_t> stampMs = std::nullopt);
    // The oldest frame, left in the queue, and its stamp when `stampMs` is given. False (and
    // both untouched) when `frame` is null or the queue is empty.
    bool PeekFront(CDibImage** frame, std::optional<std::int32_t>* stampMs = nullptr);
    // Releases the oldest frame. False when empty.
    bool DropFront();
    int Count();

    void Lock() { m_lock.lock(); }
    void Unlock() { m_lock.unlock(); }
    // The same, so that std::lock_guard can hold the queue.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex m_lock;
    CDibImage m_slots[kFrameQueueCapacity];
    std::optional<std::int32_t> m_stamps[kFrameQueueCapacity];
    int m_nHead = 0;
    int m_nCount = 0;
    const int m_nCapacity = kFrameQueueCapacity;
};
