#include "platform/path.h"

namespace platform {

char PathSeparator() { return '\\'; }

std::string FallbackProgramFilesDir() { return "C:\\Program Files"; }

std::string_view ShortcutExtension() { return ".lnk"; }

}  // namespace platform
