#include "record/sqlite_file.h"

#include <sqlite3.h>

#include <array>
#include <ctime>
#include <system_error>

namespace zembrat::record {
namespace fs = std::filesystem;

Statement::~Statement() {
    Finalize();
}

int Statement::Prepare(sqlite3* db, const char* sql) {
    Finalize();
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
}

void Statement::Finalize() {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
}

void Statement::Bind(int index, std::string_view bytes) {
    // A zero-length BLOB: sqlite3_bind_blob with no data would bind NULL, which equals nothing.
    if (bytes.empty()) {
        sqlite3_bind_zeroblob(statement_, index, 0);
    } else {
        sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    }
}

void Statement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, static_cast<sqlite3_int64>(value));
}

int Statement::Step() {
    return sqlite3_step(statement_);
}

void Statement::Reset() {
    if (statement_ == nullptr) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::string Statement::Bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    if (data == nullptr || size <= 0) return {};
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

std::int64_t Statement::Integer(int column) const {
    return static_cast<std::int64_t>(sqlite3_column_int64(statement_, column));
}

int Execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

std::string Utf8Path(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

EntryKind KindAt(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || status.type() == fs::file_type::not_found) return EntryKind::None;
    return status.type() == fs::file_type::regular ? EntryKind::RegularFile : EntryKind::Other;
}

namespace {

std::string LocalStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::array<char, 32> text{};
    const std::size_t size = std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%S", &local);
    return std::string(text.data(), size);
}

fs::path WithSuffix(const fs::path& path, std::string_view suffix) {
    fs::path out = path;
    out += std::string(suffix);
    return out;
}

}  // namespace

fs::path SetAside(const fs::path& path, std::string_view label) {
    static constexpr std::array<std::string_view, 1 + kJournalSuffixes.size()> kCompanions = {
        "", kJournalSuffixes[0], kJournalSuffixes[1], kJournalSuffixes[2]};
    const std::string base = "." + std::string(label) + "-" + LocalStamp();
    // A name none of whose three files is taken yet, so nothing is renamed over.
    fs::path target;
    for (int attempt = 1;; ++attempt) {
        target = WithSuffix(path, attempt == 1 ? base : base + "-" + std::to_string(attempt));
        bool free = true;
        for (const std::string_view companion : kCompanions) {
            if (KindAt(WithSuffix(target, companion)) != EntryKind::None) free = false;
        }
        if (free) break;
    }
    fs::path first;
    for (const std::string_view companion : kCompanions) {
        const fs::path from = WithSuffix(path, companion);
        if (KindAt(from) == EntryKind::None) continue;
        std::error_code error;
        fs::rename(from, WithSuffix(target, companion), error);
        if (error) return {};
        if (first.empty()) first = WithSuffix(target, companion);
    }
    return first;
}

}  // namespace zembrat::record
