// Saves cut short from outside: a kill at any moment, a file-size limit reached part-way. The
// next opening must find the file as it was before the save or as the save made it, never a mix,
// and nothing of the save beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "checked_store.h"
#include "config/store_file.h"

namespace zembrat::config {
namespace {

using testing::Lines;
using zembrat::testing::ReadFileOrMissing;
using zembrat::testing::TempDir;

// The saves the child makes, in order: values of very different lengths, so that saves grow and
// shrink the file and move its tail by several blocks.
struct Save {
    std::string key;
    std::string value;
};
std::vector<Save> Saves() {
    std::vector<Save> saves;
    const std::size_t lengths[] = {9000, 3, 14000, 200, 5000, 1, 12000, 40, 8000, 7};
    for (std::size_t i = 0; i < 40; ++i) {
        const std::size_t n = lengths[i % 10] + i;
        saves.push_back({i % 3 == 0 ? "a" : (i % 3 == 1 ? "b" : "c"),
                         std::string(n, static_cast<char>('d' + i % 20))});
    }
    return saves;
}

// Runs the saves on the settings file in a child process; its pid.
pid_t StartSaving(const std::string& path, const std::vector<Save>& saves, rlim_t sizeLimit) {
    const pid_t child = fork();
    if (child == 0) {
        if (sizeLimit) {
            const rlimit limit{sizeLimit, sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        ConfigStore store;
        store.Open(path, DiskFile);
        store.SetSection("S");
        for (const Save& save : saves) store.WriteText(save.key, save.value);
        _exit(0);
    }
    return child;
}

// Nothing but the settings file is in the folder.
std::vector<std::string> FolderNames(const TempDir& dir) {
    std::vector<std::string> names;
    for (const platform::FolderEntry& entry : platform::ListFolder(dir.path()))
        names.push_back(entry.name);
    return names;
}

TEST(InterruptedSave, AKillAtAnyMomentLeavesTheOldFileOrTheNewOne) {
    TempDir dir;
    const std::string path = dir / "Zembrat.ini";
    const std::string initial = Lines({"[S]", "c=3", "b=2", "a=1", "[T]", "x=y"});
    const std::vector<Save> saves = Saves();
    // Every state the file may be in between two saves, made by a store of its own.
    std::vector<std::string> states = {initial};
    {
        ASSERT_TRUE(platform::WriteWholeFile(dir / "model.ini", initial));
        ConfigStore model;
        ASSERT_TRUE(model.Open(dir / "model.ini", DiskFile));
        model.SetSection("S");
        for (const Save& save : saves) {
            ASSERT_EQ(model.WriteText(save.key, save.value), WriteResult::kWritten);
            states.push_back(ReadFileOrMissing(dir / "model.ini"));
        }
    }
    ASSERT_TRUE(platform::WriteWholeFile(dir / "model.ini", ""));

    std::mt19937 random(20261208);
    std::size_t cutShort = 0;
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(platform::WriteWholeFile(path, initial));
        const pid_t child = StartSaving(path, saves, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        if (platform::PathExists(dir / ".Zembrat.ini.saving")) ++cutShort;
        // A save it had made whole beside the file is completed by the next opening.
        std::string whole;
        ASSERT_TRUE(ReadWholeSettings(path, whole));
        ConfigStore next;
        ASSERT_TRUE(next.Open(path, DiskFile)) << round;
        const std::string opened = ReadFileOrMissing(path);
        EXPECT_NE(std::find(states.begin(), states.end(), opened), states.end()) << round;
        EXPECT_EQ(whole, opened) << round;
        EXPECT_EQ(next.GetContent(), opened);
        EXPECT_EQ(FolderNames(dir), (std::vector<std::string>{"model.ini", "Zembrat.ini"}))
            << round;
        // And it saves on from there as a store that was never cut short does.
        next.SetSection("T");
        EXPECT_EQ(next.WriteText("x", "z"), WriteResult::kWritten);
        std::string expected = opened;
        expected.replace(expected.rfind("x=y"), 3, "x=z");
        EXPECT_EQ(ReadFileOrMissing(path), expected);
    }
    // Not a figure to hold to; it tells how often a kill fell inside a save.
    std::printf("kills inside a save: %zu of 40\n", cutShort);
}

TEST(InterruptedSave, AFileSizeLimitReachedPartWayLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir / "Zembrat.ini";
    const std::string initial =
        Lines({"[S]", "b=" + std::string(3000, 'x'), "a=" + std::string(3000, 'y'), "[T]", "t=1"});
    const std::vector<Save> grow = {{"b", std::string(6000, 'z')}};
    std::size_t mixed = 0;
    for (rlim_t limit = 500; limit < 9000; limit += 500) {
        ASSERT_TRUE(platform::WriteWholeFile(path, initial));
        const pid_t child = StartSaving(path, grow, limit);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << limit;
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ) << limit;
        if (ReadFileOrMissing(path) != initial) ++mixed;  // cut in the middle of the patch
        std::string whole;
        ASSERT_TRUE(ReadWholeSettings(path, whole));
        EXPECT_EQ(whole, initial) << limit;
        ConfigStore next;
        ASSERT_TRUE(next.Open(path, DiskFile));
        EXPECT_EQ(ReadFileOrMissing(path), initial) << limit;
        EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"Zembrat.ini"}) << limit;
        next.SetSection("S");
        EXPECT_EQ(next.ReadText("b"), std::string(3000, 'x'));
    }
    EXPECT_GT(mixed, 0u);
    // Without the limit the same save goes through.
    ASSERT_TRUE(platform::WriteWholeFile(path, initial));
    const pid_t child = StartSaving(path, grow, 0);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(ReadFileOrMissing(path), Lines({"[S]", "b=" + std::string(6000, 'z'),
                                              "a=" + std::string(3000, 'y'), "[T]", "t=1"}));
}

}  // namespace
}  // namespace zembrat::config
