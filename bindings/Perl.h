// The one place that pulls in the Perl runtime's headers.
//
// Standard C++ headers come first: perl.h defines macros (do_open, list,
// abort and friends) that break them when they are included afterwards.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <EXTERN.h>
#include <perl.h>
#include <XSUB.h>

#undef do_open
#undef do_close
#undef list
