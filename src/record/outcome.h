// The words of a run's results, as the run record keeps them and the report writes them: what
// became of a reference, how an article ended, and which of them a retry takes up again.
#pragma once

#include <optional>
#include <string_view>

namespace zembrat::record {

// What became of one kept reference.
enum class Outcome {
    Stored,      // downloaded and written under its content name
    Reused,      // downloaded; a file with the same bytes was already there
    Failed,      // no usable answer, or it could not be written
    NotReached,  // a stop came first (or abandoned its download)
};

// How an article ended. Skipped: an incremental run found the article, its inputs and its
// result as an earlier run left them, and did nothing.
enum class ArticleEnd { Written, Unreadable, NotWritten, CutShort, Skipped };

// "stored", "reused", "failed", "not reached".
const char* OutcomeText(Outcome outcome);
// "written", "unreadable", "not written", "cut short", "skipped".
const char* ArticleEndText(ArticleEnd end);
// The word read back; nullopt for any other text ("dropped", a hand-edited word).
std::optional<Outcome> OutcomeFromText(std::string_view text);
std::optional<ArticleEnd> ArticleEndFromText(std::string_view text);

// Whether a retry downloads the reference again: it failed or was not reached, or a stop cut
// its article short (so the article was not written, whatever its images did).
bool NeedsRetry(ArticleEnd end, Outcome outcome);

}  // namespace zembrat::record
