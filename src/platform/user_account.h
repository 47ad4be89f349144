// The user the program runs as: the home folder and the login name, in the file system's bytes
// (not GBK text).
#pragma once

#include <string>

namespace zembrat::platform {

// $HOME when it is set and not empty; else the home folder the password database gives the
// effective user; empty when neither names one.
std::string HomeFolder();
// The effective user's login name from the password database; empty when it has none.
std::string LoginName();

}  // namespace zembrat::platform
