// The settings a run is made from, as the settings file holds them: one table of section, key,
// default and the rule for writing, read and written by the window and read by the console.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "job/extension_options.h"
#include "job/run.h"

namespace zembrat::config {
class ConfigStore;
}

namespace zembrat::job {

// The six settings and the extension options together.
struct SettingValues {
    JobSettings settings;
    ExtensionOptions options;

    friend bool operator==(const SettingValues&, const SettingValues&) = default;
};

// One key of the settings file.
struct SettingItem {
    std::string section;  // GBK
    std::string key;      // GBK
    bool alwaysWritten;   // the six settings; an option is written only once changed from its
                          // default or already in the file
    std::function<std::string(const SettingValues& values)> get;  // the value's text as stored
    // Takes a stored text; one not of the key's form gives the value its default.
    std::function<void(SettingValues& values, const std::string& text)> set;
};

// The section of the six settings, "基本配置".
const std::string& SettingsSection();

// Every key, in the order the settings are read and written: the six settings, the options, then
// the per-site rules and the placeholder marks.
const std::vector<SettingItem>& SettingItems();

// The values a new window starts with (home: the user's home folder, GBK): the article folder
// home + "/文章目录", the filter "*.htm", the image folder "files/img", the rest empty; every
// option off.
SettingValues DefaultSettingValues(const std::string& home);

// Reads every key of the table into values; a missing key keeps what values held. afterEach, when
// given, runs after each key is read (the window shows each setting as it comes).
void ReadSettingValues(config::ConfigStore& store, SettingValues& values,
                       const std::function<void(const SettingItem&)>& afterEach = {});

// Writes the keys the rule asks for; true when every write reached the settings file (a write
// queued while the store is busy counts as reached).
bool WriteSettingValues(config::ConfigStore& store, const SettingValues& values);

}  // namespace zembrat::job
