// Sync of the music clock with what a PulseAudio server plays: the clock read
// every millisecond while a click track plays, started and moved by seeks,
// against the clicks a monitor recorder heard.
#pragma once

#include "audio/Player.h"
#include "tests/audio/PulseServer.h"

#include <string>
#include <vector>

namespace audio_test {

// Offsets in ms (the clock at the moment a click is heard less the click's
// place in the music; positive: the clock runs ahead).
struct SyncFigures {
    double atStart = 0.0;            // the first click after the start
    std::vector<double> afterSeeks;  // the first click after each seek
    std::vector<double> steady;      // every other click
    double Median() const;
    double P90Magnitude() const;
};

// Opens `clicks` (a click every 250 ms from 0) on the player, starts it, plays
// playMs, then seeks to each target (each on a click) and plays playMs more.
// With fromStart false the player already plays `clicks`: the figures then
// start where the measurement does (atStart is the first click heard).
SyncFigures MeasureSync(music::Player& player, Recorder& recorder, const std::string& clicks,
                        const std::vector<int>& seeks, int playMs, bool fromStart = true);

}  // namespace audio_test
