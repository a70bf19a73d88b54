// Boot subs of the packages compiled into the player, and the hand-over of
// the show context. The script host installs the context into an interpreter
// before it parses the script and registers the boot subs; the script calls
// each boot sub before it uses the package.
#pragma once

#include "bindings/Context.h"
#include "bindings/Perl.h"

EXTERN_C void boot_DynaLoader(pTHX_ CV* cv);

// Makes context the one the interpreter's bindings act on. It must outlive
// the interpreter.
void InstallContext(pTHX_ show::Context* context);

void BootOpenGL(pTHX_ CV* cv);
void BootImage(pTHX_ CV* cv);
void BootInkStain(pTHX_ CV* cv);
void BootModel(pTHX_ CV* cv);
void BootBalTrap(pTHX_ CV* cv);
void BootSync(pTHX_ CV* cv);
