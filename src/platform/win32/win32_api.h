// The one way the Windows layer includes the system's headers: ANSI calls
// throughout (no UNICODE), the lean set of <windows.h>, and the function
// macros that share a name with a method of the platform interfaces taken
// back out, so that a class of this layer can override those methods. Code
// here calls the "A" functions by their full names.
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

#undef CreateDirectory
#undef SetCurrentDirectory
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef MessageBox
#undef GetUserName
