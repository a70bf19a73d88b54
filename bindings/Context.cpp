// The show context's effect registry.
#include "bindings/Context.h"

namespace show {

// The map goes first, so that a destructor can never find an object that is
// half gone; then the objects, newest first, as a later object may use GL
// names an earlier one made.
void EffectRegistry::DestroyAll()
{
    std::vector<Entry> doomed;
    doomed.swap(order_);
    byAddress_.clear();
    for (auto entry = doomed.rbegin(); entry != doomed.rend(); ++entry)
        entry->destroy(entry->object);
}

}  // namespace show
