#pragma once

#include <string>
#include <string_view>

namespace fw {

// Where the program keeps its per-user files (the settings, the update record), by one rule
// for all of them: the base-directory variable when it holds an absolute path, otherwise the
// folder under the home folder that the variable stands for. An unset, empty or relative
// variable is ignored, as the base-directory rules say, since a relative one would put the
// files wherever the program happens to be started.
//
// The home folder is $HOME when it holds an absolute path, otherwise the account's home in
// the password database when that is absolute, otherwise the root folder.
std::string userFolder(const char *variable, std::string_view underHome, const char *home,
                       const char *accountHome);

// The same for this process, from its environment and its account: for example
// userFolder("XDG_CONFIG_HOME", ".config").
std::string userFolder(const char *variableName, std::string_view underHome);

} // namespace fw
