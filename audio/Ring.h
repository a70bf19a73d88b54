// A lock-free ring for one producer thread and one consumer thread: fixed
// slots, claimed by the producer, published with release ordering and handed
// back by the consumer, so neither side ever waits on the other.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace music {

template <typename T, std::size_t N>
class SpscRing {
public:
    // Producer: the slot to fill next, or null when the ring is full.
    T* WriteSlot()
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N)
            return nullptr;
        return &slots_[head % N];
    }
    // Producer: hands the slot from WriteSlot to the consumer.
    void Publish() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    // Consumer: the oldest published slot, or null when the ring is empty.
    T* ReadSlot()
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail)
            return nullptr;
        return &slots_[tail % N];
    }
    // Consumer: gives the slot from ReadSlot back to the producer.
    void Release() { tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    // Slots published and not yet released (exact on either side's own thread
    // up to the other side's progress).
    std::size_t Size() const
    {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
    }

private:
    std::array<T, N> slots_{};
    // Each index is written by one side only; they live on separate cache
    // lines so that the two threads do not slow each other down.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace music
