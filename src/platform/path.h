// Path texts. The system writes its relative paths the Windows way
// ("cfg\ovl.cfg"); logic keeps those texts as they stand and turns them into
// the platform's form here, with one separator rule for every caller.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The platform's folder separator ('\\' on Windows, '/' elsewhere). A
// constant of the build, so that the seam's own code needs nothing from the
// operating system's library.
constexpr char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

// Returns `path` with every "\" and "/" replaced by the platform's separator.
std::string NativePath(std::string_view path);

// Joins a folder and a relative path with exactly one separator between them;
// `relative` may use either separator. An empty folder gives `relative` alone.
std::string JoinPath(std::string_view folder, std::string_view relative);

// The folder part of `path`, cut at its last separator ("\" or "/"); empty
// when there is none.
std::string DirectoryOf(std::string_view path);

// True when `path` is absolute on this platform ("/..." on Linux; a drive
// or a share on Windows).
bool IsAbsolutePath(std::string_view path);

// True when `path` ends with "\" or "/".
bool EndsWithSeparator(std::string_view path);

}  // namespace platform

namespace platform {

// File name ending of a shortcut: ".lnk" on Windows, ".desktop" on Linux.
constexpr std::string_view ShortcutExtension() {
#ifdef _WIN32
  return ".lnk";
#else
  return ".desktop";
#endif
}

}  // namespace platform
