// The one place that pulls in the Perl runtime's headers.
//
// Standard C++ headers come first: perl.h defines macros (do_open, list,
// abort and friends) that break them when they are included afterwards.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Every function that uses the runtime gets the interpreter as an argument
// (pTHX) instead of looking it up in thread-local storage on each use.
#define PERL_NO_GET_CONTEXT
#include <EXTERN.h>
#include <perl.h>
#include <XSUB.h>

#undef do_open
#undef do_close
#undef list
