// A thin hold on SQLite for the run record: prepared statements that bind every text as the bytes
// it is (a BLOB, never text SQLite might read as UTF-8), and the record file's own checks.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zembrat::record {

// A statement prepared once and used again: Bind..., Step until it is done, Reset.
class Statement {
  public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // The SQLite result code of the preparation.
    int Prepare(sqlite3* db, const char* sql);
    void Finalize();
    bool Ready() const { return statement_ != nullptr; }

    // Parameters count from 1. An empty text is an empty BLOB, not NULL.
    void Bind(int index, std::string_view bytes);
    void Bind(int index, std::int64_t value);
    // SQLITE_ROW, SQLITE_DONE or the error's code.
    int Step();
    void Reset();

    // Columns count from 0. NULL reads as an empty text or zero.
    std::string Bytes(int column) const;
    std::int64_t Integer(int column) const;

  private:
    sqlite3_stmt* statement_ = nullptr;
};

// Resets a statement when the scope ends, so a return on the way leaves it ready for its next use.
class Using {
  public:
    explicit Using(Statement& statement) : statement_(statement) {}
    ~Using() { statement_.Reset(); }
    Using(const Using&) = delete;
    Using& operator=(const Using&) = delete;

  private:
    Statement& statement_;
};

// Runs statements that return no rows; the SQLite result code.
int Execute(sqlite3* db, const char* sql);

// A path as the UTF-8 text SQLite opens it by, and the messages show.
std::string Utf8Path(const std::filesystem::path& path);

// What stands at a path, without following a link there.
enum class EntryKind { None, RegularFile, Other };
EntryKind KindAt(const std::filesystem::path& path);

// The files SQLite keeps beside a database, by the suffix of their name.
inline constexpr std::array<std::string_view, 3> kJournalSuffixes = {"-wal", "-shm", "-journal"};

// Renames the file at path, with its journal files (kJournalSuffixes), to path + "." + label + "-"
// + the local time as YYYYmmdd-HHMMSS (with "-2", "-3", ... added when that name is taken). A link
// is renamed itself, never what it leads to. The new name of the file, or of its first journal
// file when only those were there; empty when nothing could be renamed.
std::filesystem::path SetAside(const std::filesystem::path& path, std::string_view label);

}  // namespace zembrat::record
