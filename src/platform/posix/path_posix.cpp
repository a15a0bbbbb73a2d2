#include "platform/path.h"

namespace platform {

char PathSeparator() { return '/'; }

}  // namespace platform
