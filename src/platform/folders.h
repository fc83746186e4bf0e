#pragma once
// Special folders for data files.
#include <string>

namespace platform {

// The common application data folder without a trailing delimiter; "" when
// none can be found. Windows: the shell's CSIDL_COMMON_APPDATA (shell32 loaded
// for the query), else the "Common AppData" shell-folder registry value, else
// %CommonProgramFiles%. POSIX: $XDG_DATA_HOME, else $HOME/.local/share.
std::string CommonAppDataFolder();

}  // namespace platform
