// The music feed: decoder thread and lock-free ring.
#include "audio/Feed.h"

#include "audio/Realtime.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <pthread.h>

namespace music {

namespace {

// How often a decoder thread with a full ring looks again (a tenth of what
// the ring holds, so it never runs low while asleep).
constexpr auto kIdleWait = std::chrono::milliseconds(20);

}  // namespace

Feed::Feed(std::unique_ptr<Decoder> decoder)
    : decoder_(std::move(decoder)), length_(decoder_->Length()), thread_([this] { Run(); })
{
}

Feed::~Feed()
{
    {
        std::lock_guard<std::mutex> guard(requestLock_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void Feed::MoveTo(std::int64_t frame)
{
    // What the ring holds is of the old position: drop it first, so that the
    // decoder has room for the new one at once. (A block of the old position
    // published meanwhile is dropped by Pull.)
    while (ring_.ReadSlot())
        ring_.Release();
    {
        std::lock_guard<std::mutex> guard(requestLock_);
        requestFrame_ = std::clamp<std::int64_t>(frame, 0, length_);
        generation_ = ++requestGeneration_;
        latestGeneration_.store(generation_, std::memory_order_relaxed);
    }
    wake_.notify_one();
    offset_ = 0;
    started_ = false;
    ended_ = false;
    dry_ = false;
}

Pulled Feed::Pull(std::int16_t* stereo, int frames)
{
    Pulled pulled;
    int done = 0;
    while (done < frames && !ended_) {
        Block* block = ring_.ReadSlot();
        if (!block)
            break;
        if (block->generation != generation_) {
            // Music of a position left behind: never played.
            ring_.Release();
            offset_ = 0;
            continue;
        }
        if (!started_)
            started_ = true;
        if (pulled.count == 0)
            pulled.start = block->start + offset_;
        const int n = std::min(block->frames - offset_, frames - done);
        std::memcpy(stereo + done * 2, block->samples + offset_ * 2, static_cast<std::size_t>(n) * 4);
        done += n;
        offset_ += n;
        pulled.count += n;
        if (offset_ == block->frames) {
            if (block->last) {
                ended_ = true;
                endFrame_ = block->start + block->frames;
            }
            ring_.Release();
            offset_ = 0;
        }
    }
    std::memset(stereo + done * 2, 0, static_cast<std::size_t>(frames - done) * 4);
    if (ended_) {
        pulled.ended = true;
        pulled.end = endFrame_;
    } else if (started_ && done < frames) {
        // One dropout however many buffers it lasts.
        if (!dry_)
            underruns_.fetch_add(1, std::memory_order_relaxed);
        dry_ = true;
    } else {
        dry_ = false;
    }
    return pulled;
}

// The decoder thread: serves position requests and keeps the ring filled.
void Feed::Run()
{
    pthread_setname_np(pthread_self(), "music decoder");
    // Below the device thread: decoding a block takes a fraction of a
    // millisecond and the thread sleeps while the ring is full.
    RaiseToRealtime(kDecoderPriority);
    std::uint32_t generation = 0;
    std::int64_t position = 0;
    bool atEnd = false;
    for (;;) {
        bool move = false;
        {
            std::unique_lock<std::mutex> guard(requestLock_);
            wake_.wait_for(guard, kIdleWait, [&] {
                return quit_ || requestGeneration_ != generation || (!atEnd && ring_.Size() < kAheadBlocks);
            });
            if (quit_)
                return;
            if (requestGeneration_ != generation) {
                generation = requestGeneration_;
                position = requestFrame_;
                move = true;
            }
        }
        // File I/O and decoding happen here, with no lock held.
        if (move) {
            atEnd = !decoder_->Seek(position);
            if (atEnd) {
                // A decoder that cannot seek ends the music where it was asked to be.
                if (Block* block = ring_.WriteSlot()) {
                    *block = Block{generation, position, 0, true, {}};
                    ring_.Publish();
                }
            }
        }
        while (!atEnd && ring_.Size() < kAheadBlocks &&
               latestGeneration_.load(std::memory_order_relaxed) == generation) {
            Block* block = ring_.WriteSlot();
            if (!block)
                break;
            block->generation = generation;
            block->start = position;
            block->frames = decoder_->Read(block->samples, kBlockFrames);
            position += block->frames;
            // Fewer frames than asked: the end, or a stream that broke off.
            block->last = block->frames < kBlockFrames || position >= length_;
            atEnd = block->last;
            ring_.Publish();
        }
    }
}

}  // namespace music
