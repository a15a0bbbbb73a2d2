#include "platform/path.h"

namespace platform {

std::string FallbackProgramFilesDir() { return "C:\\Program Files"; }

std::string_view ShortcutExtension() { return ".lnk"; }

}  // namespace platform
