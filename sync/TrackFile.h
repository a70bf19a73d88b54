// Track files in the show folder: "sync_NAME.track", a little-endian int32 key
// count and 9 bytes a key (int32 row, float32 value, uint8 type), rows
// ascending, as the sync-tracker protocol's client library writes them.
#pragma once

#include "sync/Track.h"

#include <string>

namespace synctrack {

// NAME with every byte outside A-Z a-z 0-9 . _ / written as '-' and two
// upper-case hex digits ("cam:dist" gives "cam-3Adist").
std::string EncodeName(const std::string& name);

// The file of a track, relative to the show folder: "sync_" ENC ".track". A
// '/' in the name is a subfolder.
std::string TrackFileName(const std::string& name);
// The name older shows ship: the track's name as it is.
std::string RawTrackFileName(const std::string& name);

// Whether the track's file lies inside the show folder: its path, read
// component by component, never climbs above the folder.
bool StaysInside(const std::string& name);

enum class LoadResult { Loaded, Missing, Damaged };

// Reads the file at path into *keys. Damaged: *why says what is wrong, in a
// few words, and *keys is empty.
LoadResult LoadTrackFile(const std::string& path, std::vector<Key>* keys, std::string* why);

// Writes keys to path through a temporary file and a rename, making the
// folders on the way. False with *why when it cannot.
bool SaveTrackFile(const std::string& path, const std::vector<Key>& keys, std::string* why);

}  // namespace synctrack
