// A program of the build started as the end-to-end tests start the
// installer: standard input from /dev/null, its output and errors into
// files, in a folder of its own, with only the environment given, and ended
// by force when it outlasts its bound.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ChildProgram {
  std::vector<std::string> args;  // the program's path first
  std::vector<std::string> env;   // "NAME=value"
  std::string folder;             // its current directory
  std::string outPath, errPath;
  int timeoutSeconds = 60;
};

struct ChildEnd {
  bool started = false;
  int exitCode = -1;  // 128 + the signal for a program ended by one
  double seconds = 0;
};

// Runs `child` to its end; `started` hears its process id once it runs. A
// program that cannot start, or that is killed at the bound, is a test
// failure.
ChildEnd RunChild(const ChildProgram& child, const std::function<void(pid_t)>& started = {});

}  // namespace testing_support
