// Two processes on one settings file: the one that opened it first keeps it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "checked_store.h"
#include "text/codec.h"

extern char** environ;

namespace zembrat::config {
namespace {

using zembrat::testing::ReadFileOrMissing;
using zembrat::testing::TempDir;

// The lock holder program, started with pipes to its standard input and output.
class HolderProcess {
  public:
    HolderProcess(const std::string& path, const std::string& key, const std::string& value) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string program = ZEMBRAT_LOCK_HOLDER;
        const std::string nativePath = text::Utf8FromGbk(path);
        std::string section = "S";
        char* argv[] = {const_cast<char*>(program.c_str()),
                        const_cast<char*>(nativePath.c_str()),
                        section.data(),
                        const_cast<char*>(key.c_str()),
                        const_cast<char*>(value.c_str()),
                        nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        output_ = fdopen(out[0], "r");
    }
    ~HolderProcess() { Finish(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    // The line it prints once it holds the file and has written.
    std::string Report() {
        char line[128] = {};
        if (!output_ || !std::fgets(line, sizeof line, output_)) return "<none>";
        return line;
    }
    // Ends its input and waits for it to exit; its exit status.
    int Finish() {
        if (input_ >= 0) close(input_), input_ = -1;
        if (output_) std::fclose(output_), output_ = nullptr;
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    FILE* output_ = nullptr;
};

TEST(TwoProcesses, TheFirstHoldersValuesAreTheOnesStored) {
    TempDir dir;
    const std::string path = dir / "Zembrat.ini";
    HolderProcess first(path, "k", "first");
    ASSERT_EQ(first.Report(), "handle=1 written=1\n");
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=first");

    ConfigStore second;
    EXPECT_FALSE(second.Open(path, DiskFile));
    EXPECT_TRUE(second.LockedByAnother());
    second.SetSection("S");
    EXPECT_EQ(second.ReadText("k"), "first");  // it read the bytes the file had
    EXPECT_EQ(second.WriteText("k", "second"), WriteResult::kFailed);
    EXPECT_EQ(second.WriteText("other", "x"), WriteResult::kFailed);
    EXPECT_FALSE(second.WritesReachDisk());
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=first");

    EXPECT_EQ(first.Finish(), 0);
    // The first has ended; the second still has no handle and still reaches nothing.
    EXPECT_EQ(second.WriteText("k", "third"), WriteResult::kFailed);
    EXPECT_EQ(second.ReadText("k"), "third");
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=first");
    second.Close();
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=first");

    // Once nobody holds it, a new store takes it; a holder started then is shut out in turn.
    ConfigStore third;
    EXPECT_TRUE(third.Open(path, DiskFile));
    EXPECT_FALSE(third.LockedByAnother());
    HolderProcess late(path, "k", "late");
    EXPECT_EQ(late.Report(), "handle=0 written=0\n");
    EXPECT_EQ(late.Finish(), 0);
    EXPECT_EQ(ReadFileOrMissing(path), "[S]\r\nk=first");
}

}  // namespace
}  // namespace zembrat::config
