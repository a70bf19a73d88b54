// One sync track: keys on integer rows, and the value between them as the
// sync-tracker protocol's clients compute it, to the last bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace synctrack {

// How a key leads to the next one.
enum class KeyType : std::uint8_t { Step = 0, Linear = 1, Smooth = 2, Ramp = 3 };
constexpr std::uint8_t kLastKeyType = 3;

struct Key {
    std::int32_t row = 0;
    float value = 0.0f;
    KeyType type = KeyType::Step;
};

// How music time maps to rows.
struct Tempo {
    static constexpr double kDefaultBpm = 120.0;
    static constexpr double kDefaultRowsPerBeat = 8.0;
    double bpm = kDefaultBpm;
    double rowsPerBeat = kDefaultRowsPerBeat;

    // The fractional row at ms: ms x bpm x rows_per_beat / 60000.
    double Row(double ms) const { return ms * bpm * rowsPerBeat / 60000.0; }
    // The time of a row, in fractional ms.
    double Ms(double row) const { return row * 60000.0 / (bpm * rowsPerBeat); }
};

class Track {
public:
    explicit Track(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    const std::vector<Key>& Keys() const { return keys_; }

    // The value at a fractional row: 0 without keys, the first key's value
    // before it, the last key's from it on, otherwise the key at or before
    // the row's floor led to the next by its type.
    double Value(double row) const;

    // Adds the key, or replaces the one on its row.
    void SetKey(const Key& key);
    // Removes the key on row; false when there is none.
    bool DeleteKey(std::int32_t row);
    void Clear()
    {
        keys_.clear();
        keys_.shrink_to_fit();
    }
    // Takes keys with strictly ascending rows (as a file gives them).
    void Replace(std::vector<Key> keys) { keys_ = std::move(keys); }

private:
    // Index of the key on row, or -(index of the first key after it) - 1.
    long Find(std::int32_t row) const;

    // The key before which the last value was found: time mostly moves on
    // a little from one frame to the next, and a look there spares the search.
    mutable std::size_t hint_ = 0;
    std::string name_;
    std::vector<Key> keys_;  // rows strictly ascending
};

}  // namespace synctrack
