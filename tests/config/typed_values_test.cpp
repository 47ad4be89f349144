// Typed reads and writes, binary values and the two other backends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "checked_store.h"
#include "config/value_forms.h"
#include "platform/files.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using platform::DateTime;
using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::ReadFileOrMissing;
using zembrat::testing::TempDir;

TEST(TypedValues, BooleansAreTrueAndFalseTextsReadTwoWays) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "other=yes", "blank="})));
    s->SetSection("S");
    EXPECT_EQ(s->WriteBool("on", true), WriteResult::kWritten);
    EXPECT_EQ(s->WriteBool("off", false), WriteResult::kWritten);
    EXPECT_EQ(s->GetValue("S", "on"), "真"_gbk);
    EXPECT_EQ(s->GetValue("S", "off"), "假"_gbk);
    EXPECT_TRUE(s->ReadBool("on"));
    EXPECT_FALSE(s->ReadBool("off", true));
    EXPECT_TRUE(s->ReadBoolUnlessFalse("on"));
    EXPECT_FALSE(s->ReadBoolUnlessFalse("off", true));
    // Neither text: ReadBool says false, ReadBoolUnlessFalse says true.
    EXPECT_FALSE(s->ReadBool("other", true));
    EXPECT_TRUE(s->ReadBoolUnlessFalse("other", false));
    // Missing or empty: the default, both ways.
    for (const char* key : {"missing", "blank"}) {
        EXPECT_TRUE(s->ReadBool(key, true)) << key;
        EXPECT_FALSE(s->ReadBool(key, false)) << key;
        EXPECT_TRUE(s->ReadBoolUnlessFalse(key, true)) << key;
        EXPECT_FALSE(s->ReadBoolUnlessFalse(key, false)) << key;
    }
}

TEST(TypedValues, NumbersAreStoredWithThirteenSignificantDigits) {
    EXPECT_EQ(NumberToStored(0), "0");
    EXPECT_EQ(NumberToStored(0.1), "0.1");
    EXPECT_EQ(NumberToStored(-2.5), "-2.5");
    EXPECT_EQ(NumberToStored(1.0 / 3), "0.3333333333333");
    EXPECT_EQ(NumberToStored(1e20), "1e+20");
    EXPECT_EQ(NumberToStored(123456789012345.0), "1.234567890123e+14");
    EXPECT_EQ(NumberToStored(0.0001), "0.0001");
    EXPECT_EQ(NumberToStored(0.00001), "1e-05");
    EXPECT_EQ(NumberToStored(1234567890123.0), "1234567890123");

    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    s->SetSection("N");
    EXPECT_EQ(s->WriteNumber("third", 1.0 / 3), WriteResult::kWritten);
    EXPECT_EQ(s->GetValue("N", "third"), "0.3333333333333");
    EXPECT_DOUBLE_EQ(s->ReadNumber("third"), 0.3333333333333);
    // The default goes through the stored form too.
    EXPECT_DOUBLE_EQ(s->ReadNumber("missing", 0.12345678901234567), 0.1234567890123);
    EXPECT_EQ(s->ReadNumber("missing", 7), 7);
}

TEST(TypedValues, NumberReadBackTakesTheLongestLeadingNumber) {
    EXPECT_EQ(NumberFromStored("12abc"), 12);
    EXPECT_EQ(NumberFromStored("abc"), 0);
    EXPECT_EQ(NumberFromStored(""), 0);
    EXPECT_EQ(NumberFromStored(" 5"), 0);  // must begin with the number
    EXPECT_EQ(NumberFromStored("+7"), 7);
    EXPECT_EQ(NumberFromStored("-0.25x"), -0.25);
    EXPECT_EQ(NumberFromStored(".5"), 0.5);
    EXPECT_EQ(NumberFromStored("5."), 5);
    EXPECT_EQ(NumberFromStored("."), 0);
    EXPECT_EQ(NumberFromStored("-"), 0);
    EXPECT_EQ(NumberFromStored("1e3x"), 1000);
    EXPECT_EQ(NumberFromStored("2E-2"), 0.02);
    EXPECT_EQ(NumberFromStored("1e"), 1);
    EXPECT_EQ(NumberFromStored("1e+"), 1);
    EXPECT_EQ(NumberFromStored("3.5.1"), 3.5);
    EXPECT_TRUE(std::isinf(NumberFromStored("1e999")));
    EXPECT_EQ(NumberFromStored("1e-999"), 0);
    // Full-width digits, signs and points.
    EXPECT_EQ(NumberFromStored("１２．５"_gbk), 12.5);
    EXPECT_EQ(NumberFromStored("－３"_gbk), -3);
    EXPECT_EQ(NumberFromStored("＋4１"_gbk), 41);
    EXPECT_EQ(NumberFromStored("９个"_gbk), 9);
    EXPECT_EQ(NumberFromStored("个９"_gbk), 0);
}

TEST(TypedValues, DateTimesRoundTripInTheirShortestForm) {
    EXPECT_EQ(DateTimeToStored({2024, 3, 9, 0, 0, 0}), "2024年3月9日"_gbk);
    EXPECT_EQ(DateTimeToStored({2024, 3, 9, 8, 0, 0}), "2024年3月9日8时"_gbk);
    EXPECT_EQ(DateTimeToStored({2024, 3, 9, 8, 5, 0}), "2024年3月9日8时5分"_gbk);
    EXPECT_EQ(DateTimeToStored({2024, 3, 9, 0, 0, 7}), "2024年3月9日0时0分7秒"_gbk);
    EXPECT_EQ(DateTimeToStored({2024, 3, 9, 0, 5, 0}), "2024年3月9日0时5分"_gbk);

    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    s->SetSection("D");
    for (const DateTime& value : {DateTime{2024, 3, 9, 0, 0, 0}, DateTime{1999, 12, 31, 23, 59, 59},
                                  DateTime{2000, 2, 29, 0, 1, 0}, DateTime{100, 1, 1, 5, 0, 0},
                                  DateTime{9999, 12, 31, 0, 0, 1}}) {
        EXPECT_EQ(s->WriteDateTime("when", value), WriteResult::kWritten);
        EXPECT_EQ(s->ReadDateTime("when"), value);
    }
    const DateTime earliest{};
    EXPECT_EQ(earliest, (DateTime{100, 1, 1, 0, 0, 0}));
    const DateTime fallback{2020, 5, 6, 7, 8, 9};
    EXPECT_EQ(s->ReadDateTime("missing", fallback), fallback);
    // Not a date-time, or an impossible one: the earliest value, not the default.
    for (const char* bad : {"yesterday", "2024年3月", "2023年2月29日", "2024年13月1日",
                            "2024年3月9日25时", "2024年3月9日8时extra", "99年1月1日"}) {
        EXPECT_EQ(s->WriteText("bad", text::GbkFromUtf8(bad)), WriteResult::kWritten);
        EXPECT_EQ(s->ReadDateTime("bad", fallback), earliest) << bad;
    }
}

TEST(TypedValues, BinaryValuesLiveInFilesBesideTheSettingsFile) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith("[S]\r\nk=v"));
    s->SetSection("U");
    const std::string expectedFile = dir / "inibin/U-P.ibn";
    EXPECT_EQ(Probe::BinaryValueFile(s.store(), "P"), expectedFile);
    EXPECT_EQ(s->ReadBinary("P", "dflt"), "dflt");
    const std::string bytes("\0\x01\xFF\r\nxyz", 8);
    EXPECT_TRUE(s->WriteBinary("P", bytes));
    EXPECT_EQ(ReadFileOrMissing(expectedFile), bytes);  // the bytes as they are, nothing more
    EXPECT_EQ(s->ReadBinary("P", "dflt"), bytes);
    EXPECT_TRUE(s->WriteBinary("P", "ab"));  // truncated, not overwritten in part
    EXPECT_EQ(ReadFileOrMissing(expectedFile), "ab");
    // An empty value file reads as the default.
    EXPECT_TRUE(s->WriteBinary("P", ""));
    EXPECT_EQ(s->ReadBinary("P", "dflt"), "dflt");
    // The settings file is not touched.
    EXPECT_EQ(s.FileBytes(), "[S]\r\nk=v");
    // Names that would lead out of the folder are refused.
    EXPECT_FALSE(s->WriteBinary("../escape", "x"));
    EXPECT_EQ(s->ReadBinary("../escape", "d"), "d");
    s->SetSection("a/b");
    EXPECT_FALSE(s->WriteBinary("k", "x"));
    EXPECT_FALSE(platform::PathExists(dir / "escape.ibn"));

    // A folder whose name ends in a stray lead byte is still the folder of the settings file.
    ASSERT_TRUE(platform::CreateOneFolder(dir / "odd\x81"));
    CheckedStore odd(dir, "odd\x81/Zembrat.ini");
    ASSERT_TRUE(odd.Open());
    odd->SetSection("S");
    EXPECT_EQ(Probe::BinaryValueFile(odd.store(), "k"), dir / "odd\x81/inibin/S-k.ibn");
    EXPECT_TRUE(odd->WriteBinary("k", "odd"));
    EXPECT_EQ(odd->ReadBinary("k"), "odd");

    // A file where the folder should be: the write fails.
    TempDir other;
    other.Write("inibin", "not a folder");
    CheckedStore t(other);
    ASSERT_TRUE(t.Open());
    t->SetSection("S");
    EXPECT_FALSE(t->WriteBinary("k", "x"));
    EXPECT_EQ(t->ReadBinary("k", "d"), "d");
}

TEST(TypedValues, WritesReportWhetherTheirChangeReachedTheFile) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    s->SetSection("S");
    EXPECT_EQ(s->WriteText("k", "1"), WriteResult::kWritten);
    EXPECT_TRUE(s->WritesReachDisk());

    // Another holder of the file: no handle, the bytes are still read, nothing reaches the disk.
    ConfigStore second;
    EXPECT_FALSE(second.Open(s.path(), DiskFile));
    EXPECT_FALSE(Probe::HasFileHandle(second));
    EXPECT_FALSE(second.WritesReachDisk());
    second.SetSection("S");
    EXPECT_EQ(second.ReadText("k"), "1");
    EXPECT_EQ(second.WriteText("k", "2"), WriteResult::kFailed);
    EXPECT_EQ(second.WriteNumber("n", 3), WriteResult::kFailed);
    EXPECT_EQ(second.WriteBool("b", true), WriteResult::kFailed);
    EXPECT_EQ(second.WriteDateTime("d", {}), WriteResult::kFailed);
    EXPECT_EQ(second.ReadText("k"), "2");  // the mirror took it
    EXPECT_EQ(s.FileBytes(), "[S]\r\nk=1");

    // Someone shortens the file behind the store's back: the next patch fails and says so.
    s.WriteFile("");
    EXPECT_EQ(s.store().WriteText("k", "longer value"), WriteResult::kFailed);
    EXPECT_FALSE(s.store().WritesReachDisk());

    // A path that cannot be opened.
    ConfigStore nowhere;
    EXPECT_FALSE(nowhere.Open(dir / "no/such/folder/x.ini", DiskFile));
    EXPECT_EQ(Probe::ContentBytes(nowhere), "");
    EXPECT_EQ(nowhere.WriteText("k", "v"), WriteResult::kFailed);
    EXPECT_FALSE(nowhere.WritesReachDisk());
}

TEST(MemoryBackend, ChangesReachTheDiskOnlyThroughSaveAs) {
    TempDir dir;
    const std::string path = dir.Write("m.ini", "[S]\r\nk=1");
    ConfigStore store;
    EXPECT_TRUE(store.Open(path, MemoryFile));
    EXPECT_FALSE(store.WritesReachDisk());
    store.SetSection("S");
    EXPECT_EQ(store.ReadText("k"), "1");
    EXPECT_EQ(store.WriteText("k", "2"), WriteResult::kWritten);
    EXPECT_EQ(store.WriteText("j", "3"), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=1");
    // The listings read the copy in memory, which follows every change.
    std::vector<std::string> keys;
    EXPECT_EQ(store.ListKeys(keys), 2);
    EXPECT_EQ(keys, (std::vector<std::string>{"j", "k"}));

    EXPECT_TRUE(store.SaveAs(dir / "copy.ini"));
    EXPECT_EQ(ReadFileOrMissing(dir / "copy.ini"), "[S]\r\nj=3\r\nk=2");
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=1");
    EXPECT_TRUE(store.SaveAs());
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nj=3\r\nk=2");
    EXPECT_FALSE(store.SaveAs(dir / "no/such/x.ini"));

    // Reload takes the disk's bytes into both the mirror and the copy.
    ASSERT_TRUE(platform::WriteWholeFile(path, "[S]\r\nk=9"));
    store.Reload();
    EXPECT_EQ(store.ReadText("k"), "9");
    EXPECT_EQ(store.ListKeys(keys), 1);
    // A memory store never holds the file, so a disk store may.
    ConfigStore disk;
    EXPECT_TRUE(disk.Open(path, DiskFile));

    // A missing file gives an empty store that still works.
    ConfigStore fresh;
    EXPECT_TRUE(fresh.Open(dir / "absent.ini", MemoryFile));
    fresh.SetSection("S");
    EXPECT_EQ(fresh.WriteText("k", "v"), WriteResult::kWritten);
    EXPECT_EQ(fresh.GetContent(), "[S]\r\nk=v");
    EXPECT_FALSE(platform::PathExists(dir / "absent.ini"));
}

class RegistryBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("XDG_CONFIG_HOME", text::Utf8FromGbk(root_.path()).c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_)
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    std::string ValueFile(std::string_view section, std::string_view key) const {
        return root_ / ("Qorv软件/Zembrat/"_gbk + std::string(section) + "/" + std::string(key));
    }

    TempDir root_;
    TempDir program_;
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(RegistryBackendTest, ValuesAreFilesUnderTheRegistryPath) {
    ConfigStore store;
    EXPECT_TRUE(store.Open(program_ / "Zembrat.ini", RegistryBackend));
    EXPECT_FALSE(platform::PathExists(program_ / "Zembrat.ini"));  // nothing is opened
    store.SetSection("基本配置"_gbk);
    EXPECT_EQ(Probe::RegistryPath(store), "Qorv软件\\Zembrat\\基本配置\\"_gbk);

    EXPECT_EQ(store.ReadText("k", "d"), "d");
    EXPECT_EQ(store.WriteText("k", "a\r\nb"), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(ValueFile("基本配置"_gbk, "k")), "a┊*┊b"_gbk);
    EXPECT_EQ(store.ReadText("k", "d"), "a\r\nb");
    EXPECT_EQ(store.WriteNumber("n", 2.5), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(ValueFile("基本配置"_gbk, "n")), "2.5");
    EXPECT_EQ(store.ReadNumber("n"), 2.5);
    EXPECT_EQ(store.WriteBool("b", false), WriteResult::kWritten);
    EXPECT_FALSE(store.ReadBool("b", true));
    EXPECT_EQ(store.WriteDateTime("t", {2024, 1, 2, 3, 0, 0}), WriteResult::kWritten);
    EXPECT_EQ(store.ReadDateTime("t"), (DateTime{2024, 1, 2, 3, 0, 0}));
    // An existing empty value reads as empty text, unlike an empty entry of the settings file.
    EXPECT_EQ(store.WriteText("e", ""), WriteResult::kWritten);
    EXPECT_EQ(store.ReadText("e", "d"), "");
    EXPECT_TRUE(store.ReadBoolUnlessFalse("e", false));
    // The settings file stays untouched; binary values still go beside it.
    EXPECT_EQ(Probe::ContentBytes(store), "");
    EXPECT_TRUE(store.WriteBinary("bin", "xy"));
    EXPECT_EQ(ReadFileOrMissing(program_ / "inibin/基本配置-bin.ibn"_gbk), "xy");
    EXPECT_TRUE(store.WritesReachDisk());
}

TEST_F(RegistryBackendTest, NamesStayInsideTheirKeysFolder) {
    ConfigStore store;
    EXPECT_TRUE(store.Open("Zembrat.ini", RegistryBackend));
    store.SetSection("S");
    EXPECT_EQ(store.WriteText("../../escape", "x"), WriteResult::kWritten);
    EXPECT_EQ(store.WriteText("", "default value"), WriteResult::kWritten);
    EXPECT_EQ(store.WriteText("50%", "p"), WriteResult::kWritten);
    EXPECT_EQ(store.ReadText("../../escape"), "x");
    EXPECT_EQ(store.ReadText(""), "default value");
    EXPECT_EQ(store.ReadText("50%"), "p");
    EXPECT_FALSE(platform::PathExists(root_ / "escape"));
    EXPECT_FALSE(platform::PathExists(root_ / "Qorv软件/escape"_gbk));
    EXPECT_EQ(ReadFileOrMissing(ValueFile("S", "..%2F..%2Fescape")), "x");
    EXPECT_EQ(ReadFileOrMissing(ValueFile("S", "50%25")), "p");
    // A "\" in a key names a sub-key, as in the registry.
    EXPECT_EQ(store.WriteText("sub\\leaf", "l"), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(ValueFile("S", "sub/leaf")), "l");
    store.SetSection("\x81");  // a section name that is no valid GBK still round-trips
    EXPECT_EQ(store.WriteText("k", "stray"), WriteResult::kWritten);
    EXPECT_EQ(store.ReadText("k"), "stray");
    store.SetSection("..");
    EXPECT_EQ(store.WriteText("k", "dots"), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(ValueFile("%2E%2E", "k")), "dots");

    // A root that cannot hold folders: writes report false, reads give the default.
    const std::string blocked = root_.Write("file", "x");
    setenv("XDG_CONFIG_HOME", text::Utf8FromGbk(blocked).c_str(), 1);
    EXPECT_EQ(store.WriteText("k", "v"), WriteResult::kFailed);
    EXPECT_EQ(store.ReadText("k", "d"), "d");
}

}  // namespace
}  // namespace zembrat::config
