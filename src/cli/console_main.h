// The command-line front end: a run, a dry run or a retry without the window.
#pragma once

#include <functional>
#include <optional>

#include <string>
#include "publish/secret_files.h"

namespace zembrat::cli {

// Runs what the arguments ask for and returns the exit status: 0 all done, 1 something failed,
// 2 bad usage or unreadable settings, 130 stopped by Ctrl+C. defaultSettingsPath gives the
// settings file the window would use (GBK); it is asked only when --settings is not given.
// keepRecord is false only where a measurement compares a run without its run record. keyring
// reads the desktop's keyring (publish::KeyringLookup); empty: there is none.
int Main(int argc, char** argv, const std::function<std::string()>& defaultSettingsPath,
         bool keepRecord = true, const publish::KeyringLookup& keyring = {});

}  // namespace zembrat::cli
