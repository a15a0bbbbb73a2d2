// A build without WebKitGTK: no HTML player to attach.
#include "html_attach.h"

namespace bench {

bool RunWithHtmlPlayer(const std::string&, bool, const std::function<void(update::DialogLink&)>&) { return false; }

}  // namespace bench
