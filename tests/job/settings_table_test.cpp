// The settings table over a real settings file: a file in which nothing was changed gets no
// option section, and every option of the option table is saved, read back and turned off again
// through it.
#include "job/settings_table.h"

#include <gtest/gtest.h>

#include "config/config_store.h"
#include "job/option_table.h"
#include "support/option_samples.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using namespace text::literals;
using testing::NonDefaultText;

// Saves the values, then reads them back with a store of its own, once the first has let go of
// the file.
SettingValues Saved(const std::string& path, const SettingValues& values) {
    {
        config::ConfigStore store;
        EXPECT_TRUE(store.Open(path, config::DiskFile));
        EXPECT_TRUE(WriteSettingValues(store, values));
    }
    config::ConfigStore again;
    EXPECT_TRUE(again.Open(path, config::DiskFile));
    SettingValues read;
    ReadSettingValues(again, read);
    return read;
}

TEST(SettingsTable, UnchangedOptionsWriteNoSectionAndEachOptionRoundTrips) {
    testing::TempDir dir;
    const SettingValues defaults = DefaultSettingValues("/home/用户"_gbk);
    const std::string plain = dir / "plain.ini";
    EXPECT_EQ(Saved(plain, defaults), defaults);
    const std::string bytes = testing::ReadFileOrMissing(plain);
    EXPECT_NE(bytes.find("[基本配置]"_gbk), std::string::npos);
    EXPECT_EQ(bytes.find("[扩展选项]"_gbk), std::string::npos);

    for (const OptionDescriptor& d : OptionTable()) {
        SCOPED_TRACE(d.key);
        const std::string path = dir / (std::to_string(&d - OptionTable().data()) + ".ini");
        SettingValues changed = defaults;
        d.Set(changed.options, NonDefaultText(d));
        EXPECT_EQ(Saved(path, changed), changed);
        const std::string file = testing::ReadFileOrMissing(path);
        EXPECT_NE(file.find("[扩展选项]"_gbk), std::string::npos);
        EXPECT_NE(file.find(d.Key() + "=" + NonDefaultText(d)), std::string::npos);
        // Turned off again, the key stays with the default's text, so that off is saved.
        EXPECT_EQ(Saved(path, defaults), defaults);
        EXPECT_NE(testing::ReadFileOrMissing(path).find(d.Key() + "=" + d.Text({})),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace zembrat::job
