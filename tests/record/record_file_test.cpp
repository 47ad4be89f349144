// The record's file: what is found where it should be, and a disk that fills up mid-run.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "record/run_record.h"
#include "support/temp_dir.h"
#include "support/tmpfs_mount.h"

namespace zembrat::record {
namespace {
namespace fs = std::filesystem;

// The names in the folder that begin with the record's name, without the journal files, sorted.
std::vector<std::string> RecordFiles(const std::string& folder) {
    std::vector<std::string> out;
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
        if (entry.name.starts_with(RunRecord::FileName()) && !entry.name.ends_with("-wal") &&
            !entry.name.ends_with("-shm")) {
            out.push_back(entry.name);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

void Sql(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// A record with many entries, closed.
void MakeRecord(const std::string& folder, int images) {
    RunRecord record;
    ASSERT_NE(record.Open(folder), OpenResult::Failed);
    record.Begin();
    for (int i = 0; i < images; ++i) {
        record.PutImage({"http://h/" + std::to_string(i), "p", 1, 2, "e", "m", Outcome::Stored, 3});
    }
    ASSERT_TRUE(record.Commit());
}

TEST(RecordFile, WhatIsNoRecordOfThisVersionIsSetAsideAndANewOneMade) {
    struct Case {
        const char* what;
        std::function<void(const std::string& file)> spoil;
        std::string label;  // the set-aside name's part after the record's name
    };
    const std::vector<Case> cases = {
        {"garbage",
         [](const std::string& file) {
             std::ofstream(file) << std::string(5000, 'x') << "not a database";
         },
         ".damaged-"},
        {"truncated",
         [](const std::string& file) { fs::resize_file(file, fs::file_size(file) / 2); },
         ".damaged-"},
        {"garbled",
         [](const std::string& file) {
             std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
             out.seekp(4096 + 10);  // the second page's cells
             out << std::string(2000, '\x7F');
         },
         ".damaged-"},
        {"another application",
         [](const std::string& file) {
             fs::remove(file);
             Sql(file, "CREATE TABLE t(x); INSERT INTO t VALUES (1); PRAGMA application_id=77;");
         },
         ".damaged-"},
        {"a table missing", [](const std::string& file) { Sql(file, "DROP TABLE refs;"); },
         ".damaged-"},
        {"an older version", [](const std::string& file) { Sql(file, "PRAGMA user_version=0;"); },
         ".version-0-"},
    };
    for (const Case& c : cases) {
        const testing::TempDir dir;
        const std::string file = dir / RunRecord::FileName();
        MakeRecord(dir.path(), 2000);
        c.spoil(file);
        std::string spoiled;
        ASSERT_TRUE(platform::ReadWholeFile(file, spoiled));

        RunRecord record;
        EXPECT_EQ(record.Open(dir.path()), OpenResult::SetAside) << c.what;
        ASSERT_TRUE(record.IsOpen()) << c.what;
        EXPECT_FALSE(record.Image("http://h/1")) << c.what;
        const std::vector<std::string> files = RecordFiles(dir.path());
        ASSERT_EQ(files.size(), 2u) << c.what;
        const std::string aside = files[1];
        EXPECT_TRUE(aside.starts_with(std::string(RunRecord::FileName()) + c.label)) << aside;
        EXPECT_NE(record.Message().find(dir / aside), std::string::npos) << record.Message();
        std::string kept;
        EXPECT_TRUE(platform::ReadWholeFile(dir / aside, kept));
        EXPECT_EQ(kept, spoiled) << c.what;
        // The new record works and is kept.
        record.PutArticle({"a", "", "", "", "", ArticleEnd::Written, {}, 1});
        record.Close();
        EXPECT_EQ(record.Open(dir.path()), OpenResult::Opened) << c.what;
        EXPECT_TRUE(record.Article("a")) << c.what;
    }
}

// A newer program's record (its manifest among it) is left byte for byte as it was, and nothing
// is made beside it; forget still sets it aside, as asked.
TEST(RecordFile, ARecordOfANewerVersionIsLeftAsItIs) {
    const testing::TempDir dir;
    const std::string file = dir / RunRecord::FileName();
    MakeRecord(dir.path(), 20);
    Sql(file, "PRAGMA user_version=7;");
    std::string before;
    ASSERT_TRUE(platform::ReadWholeFile(file, before));
    for (int round = 0; round < 2; ++round) {
        RunRecord record;
        EXPECT_EQ(record.Open(dir.path()), OpenResult::Newer);
        EXPECT_FALSE(record.IsOpen());
        EXPECT_EQ(record.NewerVersion(), 7);
        EXPECT_NE(record.Message().find("newer version of Zembrat (record version 7"),
                  std::string::npos)
            << record.Message();
        EXPECT_FALSE(record.Commit());
    }
    std::string after;
    ASSERT_TRUE(platform::ReadWholeFile(file, after));
    EXPECT_EQ(after, before);
    EXPECT_EQ(RecordFiles(dir.path()), std::vector<std::string>{RunRecord::FileName()});
    RunRecord forgetting;
    EXPECT_EQ(forgetting.Open(dir.path(), true), OpenResult::SetAside);
    EXPECT_EQ(RecordFiles(dir.path()).size(), 2u);
}

TEST(RecordFile, ALinkWhereTheRecordBelongsIsSetAsideNeverWrittenThrough) {
    const testing::TempDir dir;
    const std::string folder = dir / "result";
    ASSERT_TRUE(platform::CreateOneFolder(folder));
    const std::string outside = dir.Write("outside.txt", "precious");
    const std::string file = folder + "/" + RunRecord::FileName();
    for (const char* link : {"", "-wal"}) {
        fs::create_symlink(outside, file + link);
        fs::create_symlink(dir / "nowhere", file + link + std::string("-dangling"));
        RunRecord record;
        EXPECT_EQ(record.Open(folder), OpenResult::SetAside) << link;
        record.PutArticle({"a", "", "", "", "", ArticleEnd::Written, {}, 1});
        record.Close();
        EXPECT_EQ(testing::ReadFileOrMissing(outside), "precious");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
        EXPECT_FALSE(platform::PathExists(dir / "nowhere"));
        fs::remove(file + link + std::string("-dangling"));
    }
    // A journal without its record is never played into a new one.
    fs::remove(file);
    const std::string journal = file + "-journal";
    std::ofstream(journal) << "a journal of another record";
    RunRecord fresh;
    EXPECT_EQ(fresh.Open(folder), OpenResult::SetAside);
    EXPECT_FALSE(platform::PathExists(journal));
    fresh.Close();
    // forget sets the record aside the same way.
    RunRecord record;
    EXPECT_EQ(record.Open(folder, true), OpenResult::SetAside);
    EXPECT_FALSE(record.Article("a"));
    EXPECT_NE(record.Message().find(".forgotten-"), std::string::npos) << record.Message();
}

TEST(RecordFile, ARecordThatCannotBeMadeOrWrittenClosesWithoutACrash) {
    const testing::TempDir dir;
    RunRecord missing;
    EXPECT_EQ(missing.Open(dir / "no/such/folder"), OpenResult::Failed);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_NE(missing.Message().find("no/such/folder"), std::string::npos) << missing.Message();
    missing.Begin();
    missing.PutImage({"a", "", 0, 0, "", "", Outcome::Stored, 0});
    EXPECT_FALSE(missing.Commit());
    EXPECT_FALSE(missing.Image("a"));

    testing::TmpfsMount disk(dir / "small", "size=256k");
    if (!disk.mounted()) GTEST_SKIP() << "no right to mount a small disk";
    RunRecord record;
    ASSERT_EQ(record.Open(dir / "small"), OpenResult::Created);
    int committed = 0;
    for (; committed < 1000; ++committed) {
        record.Begin();
        record.PutImage(
            {std::to_string(committed), "", 0, 0, std::string(20000, 'e'), "", Outcome::Stored, 0});
        if (!record.Commit()) break;
    }
    EXPECT_LT(committed, 1000);
    EXPECT_FALSE(record.IsOpen());
    EXPECT_NE(record.Message().find("could not be read or written"), std::string::npos);
    EXPECT_FALSE(record.Image("0"));
    EXPECT_TRUE(record.ArticlesToRetry().empty());
}

}  // namespace
}  // namespace zembrat::record
