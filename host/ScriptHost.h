// The script host's module registration, shared with tests that embed their
// own interpreter.
#pragma once

#include "bindings/Perl.h"

namespace host {

// xsinit callback: registers "DynaLoader::boot_DynaLoader" and the boot sub of
// every package compiled into the player.
void RegisterModules(pTHX);

}  // namespace host
