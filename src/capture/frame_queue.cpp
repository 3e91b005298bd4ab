// The frame ring: 30 frames made at start-up, filled by the capture thread, drained by flushes.
#include "capture/frame_queue.h"

#include <algorithm>
#include <cstring>

#include "platform/grab_bitmap.h"

CFrameQueue::CFrameQueue() {
    // A slot that cannot be made stays empty; a grab into it is skipped.
    for (CDibImage& slot : m_slots) (void)slot.Create(kFrameWidth, kFrameHeight, 24);
}

CFrameQueue::~CFrameQueue() {
    std::lock_guard guard(m_lock);
    for (CDibImage& slot : m_slots) slot.Free();
}

bool CFrameQueue::IsEmpty() {
    std::lock_guard guard(m_lock);
    return m_nCount == 0;
}

bool CFrameQueue::IsFull() {
    std::lock_guard guard(m_lock);
    return m_nCount >= m_nCapacity;
}

int CFrameQueue::Count() {
    std::lock_guard guard(m_lock);
    return m_nCount;
}

bool CFrameQueue::Push(const CGrabBitmap& bitmap, std::optional<std::int32_t> stampMs) {
    std::lock_guard guard(m_lock);
    if (m_nCount >= m_nCapacity)
        return false;
    const int index = (m_nHead + m_nCount) % m_nCapacity;
    m_stamps[index] = stampMs;
    CDibImage& slot = m_slots[index];
    // A slot whose block could not be made at start-up still counts as a frame: its write
    // fails later and is reported there.
    if (slot.m_hDib) {
        const int copyWidth = std::min(bitmap.m_nWidth, slot.m_nWidth);
        for (int y = 0; y < slot.m_nHeight; ++y) {
            std::uint8_t* dst = slot.TopRow(y);
            int x = 0;
            if (y < bitmap.m_nHeight) {
                const std::uint8_t* src = bitmap.Row(y);
                for (; x < copyWidth; ++x, src += 4, dst += 3) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                }
            }
            std::memset(dst, 0, std::size_t(slot.m_nWidth - x) * 3);
        }
    }
    ++m_nCount;
    return true;
}

bool CFrameQueue::PeekFront(CDibImage** frame, std::optional<std::int32_t>* stampMs) {
    std::lock_guard guard(m_lock);
    if (!frame || m_nCount == 0)
        return false;
    *frame = &m_slots[m_nHead];
    if (stampMs)
        *stampMs = m_stamps[m_nHead];
    return true;
}

bool CFrameQueue::DropFront() {
    std::lock_guard guard(m_lock);
    if (m_nCount == 0)
        return false;
    m_nHead = (m_nHead + 1) % m_nCapacity;
    --m_nCount;
    return true;
}
