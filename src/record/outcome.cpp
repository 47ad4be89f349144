#include "record/outcome.h"

#include <array>
#include <utility>

namespace zembrat::record {
namespace {

constexpr std::array<std::pair<Outcome, const char*>, 4> kOutcomes = {{
    {Outcome::Stored, "stored"},
    {Outcome::Reused, "reused"},
    {Outcome::Failed, "failed"},
    {Outcome::NotReached, "not reached"},
}};

constexpr std::array<std::pair<ArticleEnd, const char*>, 5> kEnds = {{
    {ArticleEnd::Written, "written"},
    {ArticleEnd::Unreadable, "unreadable"},
    {ArticleEnd::NotWritten, "not written"},
    {ArticleEnd::CutShort, "cut short"},
    {ArticleEnd::Skipped, "skipped"},
}};

template <typename Enum, std::size_t N>
const char* TextOf(const std::array<std::pair<Enum, const char*>, N>& words, Enum value) {
    for (const auto& [v, word] : words) {
        if (v == value) return word;
    }
    return "";
}

template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(const std::array<std::pair<Enum, const char*>, N>& words,
                            std::string_view text) {
    for (const auto& [v, word] : words) {
        if (text == word) return v;
    }
    return std::nullopt;
}

}  // namespace

const char* OutcomeText(Outcome outcome) {
    return TextOf(kOutcomes, outcome);
}

const char* ArticleEndText(ArticleEnd end) {
    return TextOf(kEnds, end);
}

std::optional<Outcome> OutcomeFromText(std::string_view text) {
    return ValueOf(kOutcomes, text);
}

std::optional<ArticleEnd> ArticleEndFromText(std::string_view text) {
    return ValueOf(kEnds, text);
}

bool NeedsRetry(ArticleEnd end, Outcome outcome) {
    return end == ArticleEnd::CutShort || outcome == Outcome::Failed ||
           outcome == Outcome::NotReached;
}

}  // namespace zembrat::record
