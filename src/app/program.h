// Start-up and end of the program: the program-wide objects, the settings path, the main
// window and the event loop. main() only makes the QApplication and calls RunProgram.
#pragma once

#include <string>

namespace zembrat::app {

// The folder that holds the running executable (GBK, absolute, no final separator). Needs the
// QApplication.
std::string ProgramFolder();

// The settings file of a program in programFolder (GBK): programFolder + "/Zembrat.ini",
// whatever the executable is called. When that folder cannot be written (an installed copy),
// $XDG_CONFIG_HOME/zembrat/Zembrat.ini (~/.config when unset or not absolute), with its folder
// created.
std::string SettingsPath(const std::string& programFolder);

// Runs the program with its settings beside programFolder: creates the settings store, the
// text dialog's request record and the web client, opens the settings file, shows the main
// window and runs the event loop until the window has closed; then the exit routine destroys
// the three objects in the order they were made. Reads no command-line arguments. Needs the
// QApplication; returns the event loop's exit code.
int RunProgram(const std::string& programFolder);

}  // namespace zembrat::app
