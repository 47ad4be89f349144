// The run record: what earlier runs over a result folder did, kept in one SQLite file in the
// result folder (outside the image folder, so it is never uploaded with the images). Per address:
// where its image was stored, its size, CRC-32, ETag, Last-Modified and last outcome; per article:
// the hashes of its source bytes, of the inputs that shape its result and of the result written,
// and the outcome of each of its references; per publish target: what was published.
//
// Every text key (address, article path, stored path, remote path) is kept as the bytes it is
// (GBK or anything else), never converted. The record is read as it is needed, never loaded whole.
// One transaction per article: a kill at any moment loses at most the article in progress.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/outcome.h"

namespace zembrat::record {

// One address as its last run left it.
struct ImageEntry {
    std::string address;     // the absolute address fetched
    std::string storedPath;  // relative to the result folder, "/" between pieces; empty: none
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string etag;                       // as the server sent it, quotes and all; empty for none
    std::string lastModified;               // as the server sent it; empty for none
    Outcome outcome = Outcome::NotReached;  // a word the record does not know reads as Failed
    std::int64_t time = 0;                  // seconds since the epoch, when it was last settled
    // The stored file's modification time (nanoseconds since the epoch) and inode as the run
    // that recorded it left the file; 0: not known (a record of an earlier version).
    std::int64_t fileTime = 0;
    std::uint64_t fileInode = 0;

    friend bool operator==(const ImageEntry&, const ImageEntry&) = default;
};

// One reference of an article as its last run left it.
struct ReferenceEntry {
    std::string address;
    Outcome outcome = Outcome::NotReached;  // as ImageEntry::outcome

    friend bool operator==(const ReferenceEntry&, const ReferenceEntry&) = default;
};

// One article as its last run left it.
struct ArticleEntry {
    std::string path;        // relative to the article folder, "/" between pieces
    std::string sourceHash;  // SHA-256 of the source bytes, lower-case hex
    std::string inputsHash;  // SHA-256 of what shapes its result (settings, options)
    std::string resultPath;  // relative to the result folder; empty: not written
    std::string resultHash;  // SHA-256 of the result written; empty: not written
    ArticleEnd end = ArticleEnd::NotWritten;  // a word the record does not know: NotWritten
    std::vector<ReferenceEntry> references;   // in article order
    std::int64_t time = 0;

    friend bool operator==(const ArticleEntry&, const ArticleEntry&) = default;
};

// One file as it was published to a target.
struct PublishedEntry {
    std::string target;      // where the target puts its files: its normalised address
    std::string remotePath;  // relative to the target's base path
    std::uint64_t size = 0;
    std::string md5;  // lower-case hex
    std::int64_t time = 0;

    friend bool operator==(const PublishedEntry&, const PublishedEntry&) = default;
};

enum class OpenResult {
    Opened,    // an earlier record was opened
    Created,   // there was none: a new one was made
    SetAside,  // one was there but damaged or of an older version: it was renamed aside (the
               // message says where) and a new one made
    Newer,     // one was there, written by a newer version of the program: left as it is, none
               // open (the message and NewerVersion name that version)
    Failed,    // none could be opened or made (the message says why): runs go on without one
};

class RunRecord {
  public:
    // The record's file name in the result folder, and the schema version it is written in.
    static const char* FileName();  // ".zembrat-record.sqlite"
    static constexpr int kVersion = 1;

    // Whether a record (or what is left of one: its journal, a link or anything else at its
    // name) is in resultFolder (GBK path, with or without a final separator).
    static bool IsThere(const std::string& resultFolder);

    RunRecord();
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // Opens the record of resultFolder (GBK path, with or without a final separator), making it
    // when there is none. forget: an earlier record is set aside and a fresh one made.
    OpenResult Open(const std::string& resultFolder, bool forget = false);
    // Opens the record of resultFolder to read only: never made, set aside or written (a preview
    // of a run reads it). False, with why in Message, when there is none or it cannot be read.
    bool OpenToRead(const std::string& resultFolder);
    bool IsOpen() const;
    // What Open had to say (the record set aside and where, or why it failed), UTF-8; empty when
    // it opened or made the record without a word. A read or write that fails later closes the
    // record (IsOpen turns false, reads give nothing, Commit false) and says so here.
    const std::string& Message() const;
    // After Open gave Newer: the record version the file is written in.
    std::int64_t NewerVersion() const;

    std::optional<ImageEntry> Image(const std::string& address) const;
    std::optional<ArticleEntry> Article(const std::string& path) const;
    // The articles whose last run left references failed or not reached, or that a stop cut
    // short or came before, in the order they were last recorded, each with all its references.
    std::vector<ArticleEntry> ArticlesToRetry() const;
    // Every image stored by a run (outcome stored or reused, with a stored path), by stored path;
    // and every article, in the order they were last recorded, each with its references. One
    // entry at a time: the record is never loaded whole.
    void ForEachStoredImage(const std::function<void(const ImageEntry&)>& visit) const;
    void ForEachArticle(const std::function<void(const ArticleEntry&)>& visit) const;

    // One article's changes: the images it settled and the article itself, kept together or
    // not at all. Commit returns false when the record could not be written (the run goes on).
    void Begin();
    void PutImage(const ImageEntry& entry);
    void PutArticle(const ArticleEntry& entry);
    bool Commit();

    // The publish manifest.
    std::optional<PublishedEntry> Published(const std::string& target,
                                            const std::string& remotePath) const;
    bool PutPublished(const std::vector<PublishedEntry>& entries);  // in one transaction
    // The manifest forgets these files of the target (moved away from it), in one transaction.
    bool ForgetPublished(const std::string& target, const std::vector<std::string>& remotePaths);

    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zembrat::record
