// Sync track values. The arithmetic follows the protocol's client library
// step by step (the difference of the two key values in single precision, the
// rest in double, t squared for a ramp), so that a show gets the same numbers
// from this player as from any other client.
#include "sync/Track.h"

#include <cmath>
#include <limits>

namespace synctrack {

namespace {

// A row's floor as the integer the keys are searched with; rows beyond the
// integer range stay at its ends instead of overflowing the conversion.
std::int32_t FloorRow(double row)
{
    const double floored = std::floor(row);
    if (!(floored >= static_cast<double>(std::numeric_limits<std::int32_t>::min())))
        return std::numeric_limits<std::int32_t>::min();
    if (floored >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(floored);
}

}  // namespace

long Track::Find(std::int32_t row) const
{
    long low = 0;
    long high = static_cast<long>(keys_.size());
    while (low < high) {
        const long middle = (low + high) / 2;
        const std::int32_t at = keys_[static_cast<std::size_t>(middle)].row;
        if (at < row)
            low = middle + 1;
        else if (at > row)
            high = middle;
        else
            return middle;
    }
    return -low - 1;
}

double Track::Value(double row) const
{
    if (keys_.empty())
        return 0.0;
    const std::int32_t floor = FloorRow(row);
    long index;
    const std::size_t count = keys_.size();
    if (hint_ + 1 < count && keys_[hint_].row <= floor && floor < keys_[hint_ + 1].row) {
        index = static_cast<long>(hint_);
    } else {
        index = Find(floor);
        if (index < 0)
            index = -index - 2;  // the key before the row
        if (index >= 0)
            hint_ = static_cast<std::size_t>(index);
    }
    if (index < 0)
        return keys_.front().value;
    if (index > static_cast<long>(keys_.size()) - 2)
        return keys_.back().value;

    const Key& k0 = keys_[static_cast<std::size_t>(index)];
    const Key& k1 = keys_[static_cast<std::size_t>(index) + 1];
    if (k0.type == KeyType::Step)
        return k0.value;
    // The rows' difference in double: exact, and it cannot overflow.
    double t = (row - k0.row) / (static_cast<double>(k1.row) - k0.row);
    if (k0.type == KeyType::Smooth)
        t = t * t * (3 - 2 * t);
    else if (k0.type == KeyType::Ramp)
        t = t * t;  // correctly rounded, as pow(t, 2) is
    const float difference = k1.value - k0.value;
    return k0.value + difference * t;
}

void Track::SetKey(const Key& key)
{
    const long index = Find(key.row);
    if (index >= 0)
        keys_[static_cast<std::size_t>(index)] = key;
    else
        keys_.insert(keys_.begin() + (-index - 1), key);
}

bool Track::DeleteKey(std::int32_t row)
{
    const long index = Find(row);
    if (index < 0)
        return false;
    keys_.erase(keys_.begin() + index);
    return true;
}

}  // namespace synctrack
