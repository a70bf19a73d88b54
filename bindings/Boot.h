// Boot subs of the packages compiled into the player. The script host
// registers them; the script calls each before it uses the package.
#pragma once

#include "bindings/Perl.h"

EXTERN_C void boot_DynaLoader(pTHX_ CV* cv);

void BootOpenGL(pTHX_ CV* cv);
void BootImage(pTHX_ CV* cv);
void BootInkStain(pTHX_ CV* cv);
void BootModel(pTHX_ CV* cv);
void BootBalTrap(pTHX_ CV* cv);
