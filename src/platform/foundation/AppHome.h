#pragma once

#include <string>

namespace vesk::platform {

// The app's home: $VESK_HOME, else $XDG_DATA_HOME/vesk, else ~/.local/share/vesk.
// Its folders Documents/, Library/Preferences/, Library/Caches/ and tmp/ are
// created on first use of each home. Paths carry no trailing "/".
std::string NSHomeDirectory();
// The home's tmp folder, with a trailing "/" as the platform gives it.
std::string NSTemporaryDirectory();
std::string documentsDirectory();
std::string libraryDirectory();
std::string cachesDirectory();
std::string preferencesDirectory();

} // namespace vesk::platform
