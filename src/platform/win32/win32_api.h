// The one way the Windows layer includes the system's headers: ANSI calls
// throughout (no UNICODE) and the lean set of <windows.h>. Code here calls
// the "A" functions by their full names.
#pragma once

#ifdef UNICODE
#undef UNICODE
#endif
#ifdef _UNICODE
#undef _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
