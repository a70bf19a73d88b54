// The BalTrap package. Placeholder until the effect lands: the boot sub exists so
// that the host can register it, and it defines no subs yet.
#include "bindings/Boot.h"

void BootBalTrap(pTHX_ CV* cv)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    PERL_UNUSED_VAR(cv);
    XSRETURN_YES;
}
