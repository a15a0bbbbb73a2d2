// The players' parsing: the console player's progress line, the scripted
// player's argument placeholders and its script lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/message_queue.h"
#include "platform/posix/console_player.h"
#include "support/scripted_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\n');
  const std::string first = text.substr(0, cut);
  const std::string rest = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  (void)platform::FormatProgressLine(first, rest);
  (void)platform::ExpandScriptArgs(first, "InstallDir", rest);
  platform::QueueMainLoop loop;
  platform::ScriptedMovieHost host(text, "", loop);
  (void)host.ScriptErrors();
  return 0;
}
