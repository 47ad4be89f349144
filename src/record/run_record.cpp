#include "record/run_record.h"

#include <sqlite3.h>

#include <filesystem>
#include <string_view>

#include "platform/files.h"
#include "record/sqlite_file.h"

namespace zembrat::record {
namespace fs = std::filesystem;

namespace {

// "ZemR": tells the record from any other SQLite file.
constexpr std::int32_t kApplicationId = 0x5A656D52;
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema = R"(
CREATE TABLE images(
    address BLOB PRIMARY KEY, stored_path BLOB NOT NULL, size INTEGER NOT NULL,
    crc INTEGER NOT NULL, etag BLOB NOT NULL, last_modified BLOB NOT NULL,
    outcome BLOB NOT NULL, time INTEGER NOT NULL, file_time INTEGER NOT NULL DEFAULT 0,
    file_inode INTEGER NOT NULL DEFAULT 0);
CREATE TABLE articles(
    path BLOB PRIMARY KEY, seq INTEGER NOT NULL, source_hash BLOB NOT NULL,
    inputs_hash BLOB NOT NULL, result_path BLOB NOT NULL, result_hash BLOB NOT NULL,
    end_state BLOB NOT NULL, time INTEGER NOT NULL, retry INTEGER NOT NULL);
CREATE INDEX articles_by_seq ON articles(seq);
CREATE INDEX articles_to_retry ON articles(seq) WHERE retry <> 0;
CREATE TABLE refs(
    article BLOB NOT NULL, position INTEGER NOT NULL, address BLOB NOT NULL,
    outcome BLOB NOT NULL, PRIMARY KEY(article, position)) WITHOUT ROWID;
CREATE TABLE published(
    target BLOB NOT NULL, remote_path BLOB NOT NULL, size INTEGER NOT NULL, md5 BLOB NOT NULL,
    time INTEGER NOT NULL, PRIMARY KEY(target, remote_path)) WITHOUT ROWID;
)";

// Columns added after the first records, each with a default: a record made before gets them
// when it is next opened to write; one opened to read only reads the default.
constexpr std::pair<const char*, const char*> kAddedImageColumns[] = {
    {"file_time", "INTEGER NOT NULL DEFAULT 0"},
    {"file_inode", "INTEGER NOT NULL DEFAULT 0"},
};

bool IsDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// An article is retried when a stop cut it short or came before it, or one of its references did
// not get its image.
bool NeedsRetry(const ArticleEntry& entry) {
    if (entry.end == ArticleEnd::CutShort || entry.end == ArticleEnd::NotReached) return true;
    for (const ReferenceEntry& reference : entry.references) {
        if (record::NeedsRetry(entry.end, reference.outcome)) return true;
    }
    return false;
}

// The words as kept: one the record does not know (a file edited by hand) is taken as the end
// that promises nothing, so the article or image is done again rather than trusted.
Outcome OutcomeOf(const std::string& word) {
    return OutcomeFromText(word).value_or(Outcome::Failed);
}
ArticleEnd EndOf(const std::string& word) {
    return ArticleEndFromText(word).value_or(ArticleEnd::NotWritten);
}

// How an attempt to open the file went.
struct Attempt {
    enum Kind { Opened, Created, Damaged, OtherApplication, OtherVersion, Failed } kind = Failed;
    std::string why;  // for Damaged and Failed
    std::int64_t version = 0;
};

}  // namespace

struct RunRecord::Impl {
    sqlite3* db = nullptr;
    fs::path file;
    std::string message;
    std::int64_t newerVersion = 0;
    bool inTransaction = false;

    Statement getImage, putImage, getArticle, getReferences, putArticle, dropReferences,
        putReference, toRetry, getPublished, putPublished;

    void CloseFile() {
        for (Statement* statement :
             {&getImage, &putImage, &getArticle, &getReferences, &putArticle, &dropReferences,
              &putReference, &toRetry, &getPublished, &putPublished}) {
            statement->Finalize();
        }
        if (db != nullptr) {
            if (inTransaction) Execute(db, "ROLLBACK");
            sqlite3_close_v2(db);
        }
        db = nullptr;
        inTransaction = false;
    }

    // A read or write went wrong after the record was opened: the run goes on without it.
    void Fail(int code) {
        if (db == nullptr) return;
        message = "The run record " + Utf8Path(file) + " could not be read or written (" +
                  sqlite3_errstr(code) + "); this run goes on without it.";
        CloseFile();
    }

    // Steps a statement that returns no rows; false (and the record closed) when it failed.
    bool Run(Statement& statement) {
        const int code = statement.Step();
        if (code == SQLITE_DONE || code == SQLITE_ROW) return true;
        Fail(code);
        return false;
    }

    bool Exec(const char* sql) {
        const int code = Execute(db, sql);
        if (code == SQLITE_OK) return true;
        Fail(code);
        return false;
    }

    Attempt TryOpen();
    Attempt Check(int code, const char* what) {
        Attempt attempt;
        attempt.kind = IsDamage(code) ? Attempt::Damaged : Attempt::Failed;
        attempt.why = std::string(what) + ": " + sqlite3_errstr(code);
        return attempt;
    }
    int Prepare(bool toWrite = true);
    // The added columns of images as a select list: their names, or their defaults where a
    // record opened to read only lacks them.
    // complete: the record has them all (a record opened to read only may not; nothing is put
    // into it then).
    int AddedColumns(bool toWrite, std::string& select, bool& complete);
};

Attempt RunRecord::Impl::TryOpen() {
    const std::string name = Utf8Path(file);
    int code =
        sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) return Check(code, "open");
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    Statement header;
    code = header.Prepare(
        db,
        "SELECT (SELECT application_id FROM pragma_application_id),"
        " (SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_master)");
    if (code != SQLITE_OK) return Check(code, "reading its header");
    code = header.Step();
    if (code != SQLITE_ROW) return Check(code, "reading its header");
    const std::int64_t application = header.Integer(0);
    const std::int64_t version = header.Integer(1);
    const std::int64_t objects = header.Integer(2);
    header.Finalize();

    Attempt attempt;
    if (application == 0 && version == 0 && objects == 0) {
        // Empty: made now. Another process may be making it at the same moment, so the
        // check is made again inside the write transaction.
        if ((code = Execute(db, "PRAGMA journal_mode=WAL")) != SQLITE_OK ||
            (code = Execute(db, "BEGIN IMMEDIATE")) != SQLITE_OK) {
            return Check(code, "making it");
        }
        inTransaction = true;
        code = header.Prepare(db, "SELECT count(*) FROM sqlite_master");
        if (code == SQLITE_OK) code = header.Step();
        if (code != SQLITE_ROW) return Check(code, "making it");
        code = SQLITE_OK;
        if (header.Integer(0) == 0) {
            const std::string setup = std::string(kSchema) +
                                      "PRAGMA application_id=" + std::to_string(kApplicationId) +
                                      ";PRAGMA user_version=" + std::to_string(kVersion) + ";";
            code = Execute(db, setup.c_str());
            attempt.kind = Attempt::Created;
        } else {
            attempt.kind = Attempt::Opened;
        }
        header.Finalize();
        if (code == SQLITE_OK) code = Execute(db, "COMMIT");
        if (code != SQLITE_OK) return Check(code, "making it");
        inTransaction = false;
        if (attempt.kind == Attempt::Opened) {
            CloseFile();
            return TryOpen();
        }
    } else if (application != kApplicationId) {
        attempt.kind = Attempt::OtherApplication;
        return attempt;
    } else if (version != kVersion) {
        attempt.kind = Attempt::OtherVersion;
        attempt.version = version;
        return attempt;
    } else {
        // The whole file is read once here, so damage anywhere is found now and not mid-run.
        Statement check;
        code = check.Prepare(db, "PRAGMA quick_check(1)");
        if (code == SQLITE_OK) code = check.Step();
        if (code != SQLITE_ROW) return Check(code, "checking it");
        if (check.Bytes(0) != "ok") {
            attempt.kind = Attempt::Damaged;
            attempt.why = "checking it: " + check.Bytes(0);
            return attempt;
        }
        check.Finalize();
        attempt.kind = Attempt::Opened;
        if ((code = Execute(db, "PRAGMA journal_mode=WAL")) != SQLITE_OK) {
            return Check(code, "opening its journal");
        }
    }
    if ((code = Execute(db, "PRAGMA synchronous=NORMAL")) != SQLITE_OK) {
        return Check(code, "setting it up");
    }
    if ((code = Prepare()) != SQLITE_OK) {
        attempt = Check(code, "reading its tables");
        // Tables missing or of another shape under this program's own version number.
        if ((code & 0xFF) == SQLITE_ERROR) attempt.kind = Attempt::Damaged;
    }
    return attempt;
}

int RunRecord::Impl::AddedColumns(bool toWrite, std::string& select, bool& complete) {
    complete = true;
    for (const auto& [name, type] : kAddedImageColumns) {
        Statement has;
        const std::string sql =
            std::string("SELECT count(*) FROM pragma_table_info('images') WHERE name = '") + name +
            "'";
        int code = has.Prepare(db, sql.c_str());
        if (code == SQLITE_OK) code = has.Step();
        if (code != SQLITE_ROW) return code;
        const bool there = has.Integer(0) != 0;
        has.Finalize();
        if (!there && toWrite) {
            const std::string add =
                std::string("ALTER TABLE images ADD COLUMN ") + name + " " + type;
            if ((code = Execute(db, add.c_str())) != SQLITE_OK) return code;
        }
        complete = complete && (there || toWrite);
        select += std::string(", ") + (there || toWrite ? name : "0");
    }
    return SQLITE_OK;
}

int RunRecord::Impl::Prepare(bool toWrite) {
    std::string added;
    bool complete = true;
    if (const int code = AddedColumns(toWrite, added, complete); code != SQLITE_OK) return code;
    const std::string getImageSql =
        "SELECT stored_path, size, crc, etag, last_modified, outcome, time" + added +
        " FROM images WHERE address = ?1";
    const std::pair<Statement*, const char*> statements[] = {
        {&getImage, getImageSql.c_str()},
        {&putImage, complete ? "INSERT OR REPLACE INTO images VALUES"
                               " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"
                             : "SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10"},
        {&getArticle,
         "SELECT path, source_hash, inputs_hash, result_path, result_hash, end_state, time"
         " FROM articles WHERE path = ?1"},
        {&getReferences, "SELECT address, outcome FROM refs WHERE article = ?1 ORDER BY position"},
        {&putArticle,
         "INSERT OR REPLACE INTO articles VALUES"
         " (?1, (SELECT IFNULL(MAX(seq), 0) + 1 FROM articles), ?2, ?3, ?4, ?5, ?6, ?7, ?8)"},
        {&dropReferences, "DELETE FROM refs WHERE article = ?1"},
        {&putReference, "INSERT INTO refs VALUES (?1, ?2, ?3, ?4)"},
        {&toRetry,
         "SELECT path, source_hash, inputs_hash, result_path, result_hash, end_state, time"
         " FROM articles WHERE retry <> 0 ORDER BY seq"},
        {&getPublished,
         "SELECT size, md5, time FROM published WHERE target = ?1 AND remote_path = ?2"},
        {&putPublished, "INSERT OR REPLACE INTO published VALUES (?1, ?2, ?3, ?4, ?5)"},
    };
    for (const auto& [statement, sql] : statements) {
        const int code = statement->Prepare(db, sql);
        if (code != SQLITE_OK) return code;
    }
    return SQLITE_OK;
}

const char* RunRecord::FileName() {
    return ".zembrat-record.sqlite";
}

RunRecord::RunRecord() : impl_(std::make_unique<Impl>()) {}
RunRecord::~RunRecord() {
    Close();
}

namespace {

fs::path RecordFile(const std::string& resultFolder) {
    std::string path = resultFolder;
    if (!path.empty() && path.back() != '/') path += '/';
    return platform::NativePath(path + RunRecord::FileName());
}

}  // namespace

bool RunRecord::IsThere(const std::string& resultFolder) {
    const fs::path file = RecordFile(resultFolder);
    if (KindAt(file) != EntryKind::None) return true;
    for (const std::string_view suffix : kJournalSuffixes) {
        fs::path journal = file;
        journal += std::string(suffix);
        if (KindAt(journal) != EntryKind::None) return true;
    }
    return false;
}

OpenResult RunRecord::Open(const std::string& resultFolder, bool forget) {
    Close();
    Impl& d = *impl_;
    d.message.clear();
    d.newerVersion = 0;
    d.file = RecordFile(resultFolder);
    const std::string shown = Utf8Path(d.file);

    const EntryKind main = KindAt(d.file);
    bool journalOther = false;
    bool journalThere = false;
    for (const std::string_view suffix : kJournalSuffixes) {
        fs::path journal = d.file;
        journal += std::string(suffix);
        const EntryKind kind = KindAt(journal);
        journalOther = journalOther || kind == EntryKind::Other;
        journalThere = journalThere || kind != EntryKind::None;
    }
    bool setAside = false;
    auto moveAside = [&](std::string_view label, const std::string& what) {
        const fs::path target = SetAside(d.file, label);
        if (target.empty()) {
            d.message = "The run record " + shown + " " + what +
                        " and could not be set aside; this run goes on without a record.";
            return false;
        }
        d.message = "The run record " + shown + " " + what + "; it was set aside as " +
                    Utf8Path(target) + " and a new one made.";
        setAside = true;
        return true;
    };
    // Nothing is opened through a link or anything but a file at the record's names, and a
    // journal without its record is never played into a new one.
    if (main == EntryKind::Other || journalOther) {
        if (!moveAside("damaged", "was a link or no regular file")) return OpenResult::Failed;
    } else if (main == EntryKind::None && journalThere) {
        if (!moveAside("damaged", "had journal files without the record")) {
            return OpenResult::Failed;
        }
    } else if (forget && main != EntryKind::None) {
        if (!moveAside("forgotten", "was to be forgotten")) return OpenResult::Failed;
    }

    for (int round = 0; round < 2; ++round) {
        const Attempt attempt = d.TryOpen();
        if (attempt.kind == Attempt::Opened || attempt.kind == Attempt::Created) {
            if (setAside) return OpenResult::SetAside;
            return attempt.kind == Attempt::Opened ? OpenResult::Opened : OpenResult::Created;
        }
        d.CloseFile();
        // Written by a newer program: its tables (and the manifest of what it published) are
        // its own, so nothing here touches it.
        if (attempt.kind == Attempt::OtherVersion && attempt.version > kVersion) {
            d.newerVersion = attempt.version;
            d.message = "The run record " + shown +
                        " was written by a newer version of Zembrat "
                        "(record version " +
                        std::to_string(attempt.version) +
                        "; this one "
                        "writes version " +
                        std::to_string(kVersion) + "); it was left as it is.";
            return OpenResult::Newer;
        }
        if (attempt.kind == Attempt::Failed || round == 1 || setAside) {
            d.message = "The run record " + shown + " could not be opened or made (" + attempt.why +
                        "); this run goes on without a record.";
            return OpenResult::Failed;
        }
        const bool moved =
            attempt.kind == Attempt::OtherVersion
                ? moveAside("version-" + std::to_string(attempt.version),
                            "was written in version " + std::to_string(attempt.version) +
                                " of the record, not " + std::to_string(kVersion))
            : attempt.kind == Attempt::OtherApplication
                ? moveAside("damaged", "was no run record of this program")
                : moveAside("damaged", "was damaged (" + attempt.why + ")");
        if (!moved) return OpenResult::Failed;
    }
    return OpenResult::Failed;
}

bool RunRecord::OpenToRead(const std::string& resultFolder) {
    Close();
    Impl& d = *impl_;
    d.message.clear();
    d.file = RecordFile(resultFolder);
    const std::string shown = Utf8Path(d.file);
    fs::path wal = d.file;
    wal += "-wal";
    if (KindAt(d.file) != EntryKind::RegularFile) {
        d.message = "There is no run record " + shown + ".";
        return false;
    }
    // Read as it stands: without a journal it is opened immutable, so not even a lock file is
    // made beside it; with one (a run that did not close it), read through it.
    std::string uri = "file:";
    for (const char c : Utf8Path(d.file)) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(c);
            uri += {'%', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            uri += c;
        }
    }
    uri += KindAt(wal) == EntryKind::RegularFile ? "?mode=ro" : "?mode=ro&immutable=1";
    int code = sqlite3_open_v2(uri.c_str(), &d.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    Statement header;
    if (code == SQLITE_OK) {
        sqlite3_extended_result_codes(d.db, 1);
        sqlite3_busy_timeout(d.db, kBusyTimeoutMs);
        code = header.Prepare(d.db,
                              "SELECT (SELECT application_id FROM pragma_application_id),"
                              " (SELECT user_version FROM pragma_user_version)");
    }
    if (code == SQLITE_OK) code = header.Step();
    const bool ours =
        code == SQLITE_ROW && header.Integer(0) == kApplicationId && header.Integer(1) == kVersion;
    header.Finalize();
    if (!ours || d.Prepare(false) != SQLITE_OK) {
        d.CloseFile();
        d.message =
            "The run record " + shown + " cannot be read" +
            (code == SQLITE_ROW ? std::string() : std::string(" (") + sqlite3_errstr(code) + ")") +
            ".";
        return false;
    }
    return true;
}

bool RunRecord::IsOpen() const {
    return impl_->db != nullptr;
}
const std::string& RunRecord::Message() const {
    return impl_->message;
}
std::int64_t RunRecord::NewerVersion() const {
    return impl_->newerVersion;
}

std::optional<ImageEntry> RunRecord::Image(const std::string& address) const {
    Impl& d = *impl_;
    if (d.db == nullptr) return std::nullopt;
    Using use(d.getImage);
    d.getImage.Bind(1, address);
    const int code = d.getImage.Step();
    if (code == SQLITE_DONE) return std::nullopt;
    if (code != SQLITE_ROW) {
        d.Fail(code);
        return std::nullopt;
    }
    ImageEntry entry;
    entry.address = address;
    entry.storedPath = d.getImage.Bytes(0);
    entry.size = static_cast<std::uint64_t>(d.getImage.Integer(1));
    entry.crc = static_cast<std::uint32_t>(d.getImage.Integer(2));
    entry.etag = d.getImage.Bytes(3);
    entry.lastModified = d.getImage.Bytes(4);
    entry.outcome = OutcomeOf(d.getImage.Bytes(5));
    entry.time = d.getImage.Integer(6);
    entry.fileTime = d.getImage.Integer(7);
    entry.fileInode = static_cast<std::uint64_t>(d.getImage.Integer(8));
    return entry;
}

namespace {

// The article in the current row of a statement selecting the articles table's columns, with its
// references; false when reading them failed.
bool ReadArticle(const Statement& row, Statement& references, ArticleEntry& entry, int& code) {
    entry.path = row.Bytes(0);
    entry.sourceHash = row.Bytes(1);
    entry.inputsHash = row.Bytes(2);
    entry.resultPath = row.Bytes(3);
    entry.resultHash = row.Bytes(4);
    entry.end = EndOf(row.Bytes(5));
    entry.time = row.Integer(6);
    Using use(references);
    references.Bind(1, entry.path);
    while ((code = references.Step()) == SQLITE_ROW) {
        entry.references.push_back({references.Bytes(0), OutcomeOf(references.Bytes(1))});
    }
    return code == SQLITE_DONE;
}

}  // namespace

std::optional<ArticleEntry> RunRecord::Article(const std::string& path) const {
    Impl& d = *impl_;
    if (d.db == nullptr) return std::nullopt;
    Using use(d.getArticle);
    d.getArticle.Bind(1, path);
    int code = d.getArticle.Step();
    if (code == SQLITE_DONE) return std::nullopt;
    ArticleEntry entry;
    if (code != SQLITE_ROW || !ReadArticle(d.getArticle, d.getReferences, entry, code)) {
        d.Fail(code);
        return std::nullopt;
    }
    return entry;
}

std::vector<ArticleEntry> RunRecord::ArticlesToRetry() const {
    Impl& d = *impl_;
    std::vector<ArticleEntry> out;
    if (d.db == nullptr) return out;
    Using use(d.toRetry);
    int code = SQLITE_OK;
    while ((code = d.toRetry.Step()) == SQLITE_ROW) {
        ArticleEntry entry;
        if (!ReadArticle(d.toRetry, d.getReferences, entry, code)) break;
        out.push_back(std::move(entry));
    }
    if (code != SQLITE_DONE) {
        d.Fail(code);
        out.clear();
    }
    return out;
}

void RunRecord::ForEachStoredImage(const std::function<void(const ImageEntry&)>& visit) const {
    Impl& d = *impl_;
    if (d.db == nullptr) return;
    Statement all;
    int code = all.Prepare(d.db,
                           "SELECT address, stored_path, size, crc, etag, last_modified, outcome,"
                           " time FROM images WHERE length(stored_path) > 0 AND"
                           " (outcome = ?1 OR outcome = ?2) ORDER BY stored_path");
    if (code == SQLITE_OK) {
        all.Bind(1, OutcomeText(Outcome::Stored));
        all.Bind(2, OutcomeText(Outcome::Reused));
        while ((code = all.Step()) == SQLITE_ROW) {
            ImageEntry entry;
            entry.address = all.Bytes(0);
            entry.storedPath = all.Bytes(1);
            entry.size = static_cast<std::uint64_t>(all.Integer(2));
            entry.crc = static_cast<std::uint32_t>(all.Integer(3));
            entry.etag = all.Bytes(4);
            entry.lastModified = all.Bytes(5);
            entry.outcome = OutcomeOf(all.Bytes(6));
            entry.time = all.Integer(7);
            visit(entry);
        }
    }
    all.Finalize();
    if (code != SQLITE_DONE) d.Fail(code);
}

void RunRecord::ForEachArticle(const std::function<void(const ArticleEntry&)>& visit) const {
    Impl& d = *impl_;
    if (d.db == nullptr) return;
    Statement all;
    int code = all.Prepare(d.db,
                           "SELECT path, source_hash, inputs_hash, result_path, result_hash,"
                           " end_state, time FROM articles ORDER BY seq");
    if (code == SQLITE_OK) {
        while ((code = all.Step()) == SQLITE_ROW) {
            ArticleEntry entry;
            if (!ReadArticle(all, d.getReferences, entry, code)) break;
            visit(entry);
        }
    }
    all.Finalize();
    if (code != SQLITE_DONE) d.Fail(code);
}

void RunRecord::Begin() {
    Impl& d = *impl_;
    if (d.db == nullptr || d.inTransaction) return;
    if (d.Exec("BEGIN IMMEDIATE")) d.inTransaction = true;
}

void RunRecord::PutImage(const ImageEntry& entry) {
    Impl& d = *impl_;
    if (d.db == nullptr) return;
    Using use(d.putImage);
    d.putImage.Bind(1, entry.address);
    d.putImage.Bind(2, entry.storedPath);
    d.putImage.Bind(3, static_cast<std::int64_t>(entry.size));
    d.putImage.Bind(4, static_cast<std::int64_t>(entry.crc));
    d.putImage.Bind(5, entry.etag);
    d.putImage.Bind(6, entry.lastModified);
    d.putImage.Bind(7, OutcomeText(entry.outcome));
    d.putImage.Bind(8, entry.time);
    d.putImage.Bind(9, entry.fileTime);
    d.putImage.Bind(10, static_cast<std::int64_t>(entry.fileInode));
    d.Run(d.putImage);
}

void RunRecord::PutArticle(const ArticleEntry& entry) {
    Impl& d = *impl_;
    if (d.db == nullptr) return;
    // Written whole or not at all, also when no Begin came first.
    const bool own = !d.inTransaction;
    if (own) Begin();
    if (d.db == nullptr) return;
    {
        Using use(d.putArticle);
        d.putArticle.Bind(1, entry.path);
        d.putArticle.Bind(2, entry.sourceHash);
        d.putArticle.Bind(3, entry.inputsHash);
        d.putArticle.Bind(4, entry.resultPath);
        d.putArticle.Bind(5, entry.resultHash);
        d.putArticle.Bind(6, ArticleEndText(entry.end));
        d.putArticle.Bind(7, entry.time);
        d.putArticle.Bind(8, std::int64_t{NeedsRetry(entry) ? 1 : 0});
        if (!d.Run(d.putArticle)) return;
    }
    {
        Using use(d.dropReferences);
        d.dropReferences.Bind(1, entry.path);
        if (!d.Run(d.dropReferences)) return;
    }
    std::int64_t position = 0;
    for (const ReferenceEntry& reference : entry.references) {
        Using use(d.putReference);
        d.putReference.Bind(1, entry.path);
        d.putReference.Bind(2, position++);
        d.putReference.Bind(3, reference.address);
        d.putReference.Bind(4, OutcomeText(reference.outcome));
        if (!d.Run(d.putReference)) return;
    }
    if (own) Commit();
}

bool RunRecord::Commit() {
    Impl& d = *impl_;
    if (d.db == nullptr) return false;
    if (!d.inTransaction) return true;
    if (!d.Exec("COMMIT")) return false;
    d.inTransaction = false;
    return true;
}

std::optional<PublishedEntry> RunRecord::Published(const std::string& target,
                                                   const std::string& remotePath) const {
    Impl& d = *impl_;
    if (d.db == nullptr) return std::nullopt;
    Using use(d.getPublished);
    d.getPublished.Bind(1, target);
    d.getPublished.Bind(2, remotePath);
    const int code = d.getPublished.Step();
    if (code == SQLITE_DONE) return std::nullopt;
    if (code != SQLITE_ROW) {
        d.Fail(code);
        return std::nullopt;
    }
    PublishedEntry entry;
    entry.target = target;
    entry.remotePath = remotePath;
    entry.size = static_cast<std::uint64_t>(d.getPublished.Integer(0));
    entry.md5 = d.getPublished.Bytes(1);
    entry.time = d.getPublished.Integer(2);
    return entry;
}

bool RunRecord::PutPublished(const std::vector<PublishedEntry>& entries) {
    Impl& d = *impl_;
    if (d.db == nullptr) return false;
    const bool own = !d.inTransaction;
    if (own) Begin();
    if (d.db == nullptr) return false;
    for (const PublishedEntry& entry : entries) {
        Using use(d.putPublished);
        d.putPublished.Bind(1, entry.target);
        d.putPublished.Bind(2, entry.remotePath);
        d.putPublished.Bind(3, static_cast<std::int64_t>(entry.size));
        d.putPublished.Bind(4, entry.md5);
        d.putPublished.Bind(5, entry.time);
        if (!d.Run(d.putPublished)) return false;
    }
    return own ? Commit() : d.db != nullptr;
}

bool RunRecord::ForgetPublished(const std::string& target,
                                const std::vector<std::string>& remotePaths) {
    Impl& d = *impl_;
    if (d.db == nullptr) return false;
    // Prepared here, once per call: a prune forgets a few files, rarely.
    Statement forget;
    if (const int code =
            forget.Prepare(d.db, "DELETE FROM published WHERE target = ?1 AND remote_path = ?2");
        code != SQLITE_OK) {
        d.Fail(code);
        return false;
    }
    const bool own = !d.inTransaction;
    if (own) Begin();
    if (d.db == nullptr) return false;
    for (const std::string& remotePath : remotePaths) {
        Using use(forget);
        forget.Bind(1, target);
        forget.Bind(2, remotePath);
        if (!d.Run(forget)) return false;
    }
    forget.Finalize();
    return own ? Commit() : d.db != nullptr;
}

void RunRecord::Close() {
    if (impl_) impl_->CloseFile();
}

}  // namespace zembrat::record
