// Start-up and end of the program: the program-wide objects, the settings path, the main
// window and the event loop. main() only makes the QApplication and calls RunProgram.
#pragma once

#include <string>

namespace zembrat::app {

// The folder that holds the running executable (GBK, absolute, no final separator). Needs the
// QApplication.
std::string ProgramFolder();

// The settings file of a program in programFolder (GBK): programFolder + "/Zembrat.ini",
// whatever the executable is called, for a copy run where it was built or unpacked (also when
// that file exists but cannot be written: it is read, and saves report that they failed). An
// installed copy, and one whose folder cannot be written and holds no settings file, uses
// $XDG_CONFIG_HOME/zembrat/Zembrat.ini (~/.config when unset or not absolute), with its folder
// created. Installed means: programFolder is a system program folder (/usr/bin, /usr/local/bin,
// /bin, /usr/games, ...), or programFolder/../share/zembrat exists (what `cmake --install` and
// the package put beside bin), so root, or an install below the home folder, still gets
// per-user settings.
std::string SettingsPath(const std::string& programFolder);

// Runs the program with its settings beside programFolder: creates the settings store, the
// text dialog's request record and the web client, opens the settings file, shows the main
// window and runs the event loop until the window has closed; then the exit routine destroys
// the three objects in the order they were made. SIGTERM, SIGINT or SIGHUP closes the main
// window as its close button does (the settings are saved); a second one ends the program. Reads no
// command-line arguments. Needs the QApplication; returns the event loop's exit code.
int RunProgram(const std::string& programFolder);

}  // namespace zembrat::app
