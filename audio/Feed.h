// The music feed: a decoder thread that keeps a lock-free ring about 250 ms of
// music ahead of the sound output, and the copying end that the output's
// device thread reads from.
//
// Threads: the decoder thread reads the file and decodes; the consumer (the
// output's device callback or write path) only copies from the ring. MoveTo
// and Pull must be serialised by the output (its own lock, held only for
// copies and bookkeeping); a move posts a request to the decoder thread and
// drops whatever the ring still holds of the old position, unseen.
#pragma once

#include "audio/Decoder.h"
#include "audio/Ring.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace music {

// What one Pull handed over: `count` frames of music from frame `start`, at
// the beginning of the buffer; the rest of the buffer is silence.
struct Pulled {
    std::int64_t start = 0;
    int count = 0;
    // The music ended within or before this buffer, at frame `end` (less than
    // the length when the file broke off early).
    bool ended = false;
    std::int64_t end = 0;
};

class Feed {
public:
    // Takes the decoder (positioned anywhere) and starts feeding from frame 0.
    explicit Feed(std::unique_ptr<Decoder> decoder);
    ~Feed();
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;

    std::int64_t Length() const { return length_; }

    // Consumer side: from now on Pull gives music from `frame`.
    void MoveTo(std::int64_t frame);

    // Consumer side: copies what the ring holds of the current position into
    // `stereo` (16-bit, interleaved), up to `frames`, and fills the rest of the
    // buffer with silence. Never waits.
    Pulled Pull(std::int16_t* stereo, int frames);

    // Consumer side: the music of the current position has all been pulled.
    bool Ended() const { return ended_; }

    // Times the consumer found the ring dry while music was due (a dropout
    // that lasts several buffers counts once).
    std::uint64_t Underruns() const { return underruns_.load(std::memory_order_relaxed); }

    // Frames per block, and how many blocks the decoder keeps ready.
    static constexpr int kBlockFrames = 1024;
    static constexpr std::size_t kAheadBlocks = 11;  // 255 ms at 44.1 kHz

private:
    struct Block {
        std::uint32_t generation;
        std::int64_t start;
        int frames;
        bool last;  // no music after this block
        std::int16_t samples[kBlockFrames * 2];
    };

    void Run();

    const std::unique_ptr<Decoder> decoder_;
    const std::int64_t length_;
    SpscRing<Block, 16> ring_;

    // The request the decoder thread serves: a position and its generation.
    std::mutex requestLock_;
    std::condition_variable wake_;
    std::uint32_t requestGeneration_ = 1;
    std::int64_t requestFrame_ = 0;
    bool quit_ = false;
    std::atomic<std::uint32_t> latestGeneration_{1};

    // Consumer state.
    std::uint32_t generation_ = 1;
    int offset_ = 0;  // frames of the oldest block already copied
    bool started_ = false;
    bool ended_ = false;
    bool dry_ = false;  // the last Pull found the ring empty
    std::int64_t endFrame_ = 0;
    std::atomic<std::uint64_t> underruns_{0};

    std::thread thread_;
};

}  // namespace music
