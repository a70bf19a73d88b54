// maketracks: writes the bundled show's sync tracks as track files into one
// folder (the show folder), where the show reads them when no sync editor is
// connected:
//
//   sync_room-3Axoff.track   room:xoff   the 3DS scene's sideways drift
//   sync_room-3Ayoff.track   room:yoff   its drift up and down
//   sync_room-3Aflash.track  room:flash  how bright the flash on each bar is
//
//   maketracks OUTDIR
//
// The rows are the show's: 120 BPM, 8 rows a beat, 16 rows a second. The room
// scene runs from bar 12 to bar 20, rows 384 to 640. An author who edits the
// tracks live in a sync editor and saves them replaces these files.
#include "sync/Track.h"
#include "sync/TrackFile.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using synctrack::Key;
using synctrack::KeyType;

constexpr int kBarRows = 32;  // 4 beats of 8 rows
constexpr int kRoomFirstRow = 12 * kBarRows;

struct TrackKeys {
    const char* name;
    std::vector<Key> keys;
};

// Two bars a step of the drift, easing from one side to the other.
std::vector<TrackKeys> ShowTracks()
{
    const int r = kRoomFirstRow;
    return {
        {"room:xoff",
         {{r, 0.0f, KeyType::Smooth},
          {r + 2 * kBarRows, 1.5f, KeyType::Smooth},
          {r + 4 * kBarRows, -1.5f, KeyType::Smooth},
          {r + 6 * kBarRows, 0.8f, KeyType::Smooth},
          {r + 8 * kBarRows, 0.0f, KeyType::Step}}},
        {"room:yoff",
         {{r, -0.8f, KeyType::Linear}, {r + 4 * kBarRows, 0.5f, KeyType::Ramp}, {r + 8 * kBarRows, 0.0f, KeyType::Step}}},
        {"room:flash",
         {{r, 0.5f, KeyType::Step}, {r + 4 * kBarRows, 0.8f, KeyType::Linear}, {r + 8 * kBarRows, 0.2f, KeyType::Step}}},
    };
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: maketracks OUTDIR\n");
        return 2;
    }
    for (const TrackKeys& track : ShowTracks()) {
        const std::string path = std::string(argv[1]) + "/" + synctrack::TrackFileName(track.name);
        std::string why;
        if (!synctrack::SaveTrackFile(path, track.keys, &why)) {
            std::fprintf(stderr, "maketracks: %s\n", why.c_str());
            return 1;
        }
    }
    return 0;
}
