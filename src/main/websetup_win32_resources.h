// Resource ids of the Windows program, shared by websetup.rc and the code.
#pragma once

#define IDI_WEBSETUP 128

#define WEBSETUP_VERSION_COMMAS 1, 0, 0, 0
#define WEBSETUP_VERSION_TEXT "1.0.0.0"
