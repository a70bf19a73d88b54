// The packages compiled into the player, for code that builds an interpreter
// of its own (the script host, and tests that embed Perl).
#pragma once

#include "bindings/Perl.h"

namespace host {

// xsinit callback: registers "DynaLoader::boot_DynaLoader" and the boot sub of
// every package compiled into the player.
void RegisterModules(pTHX);

}  // namespace host
