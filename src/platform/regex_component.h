// The program itself calls (through automation::RegexObject and RegexObjectCp936): the pattern
// and flag setters and Execute with its matches and sub-matches; Replace and Test are unused.
//
// The regular-expression component: our own stand-in for the scripting "VBScript.RegExp"
// object, over PCRE2 (16-bit library, UTF mode, JIT when the library has it).
//
// It works on UTF-16 text and keeps the scripting component's dialect (JavaScript-like):
// "." matches anything but a line feed; "^" and "$" are the ends of the subject, or with
// Multiline also the ends of lines (at "\n" or "\r"); lazy quantifiers; empty alternatives;
// an escaped character that has no meaning of its own stands for itself ("\=", "\"", "\Z");
// "\xHH" and "\uHHHH" with exactly two and four digits. A pattern the dialect refuses
// gives no matches: Execute fails, Replace fails and Test is false. Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"

namespace zembrat::platform {

class RegexMatchCollection;

// Code units [begin, end) of the subject; a group that took no part in the match has none.
struct RegexSpan {
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::uint32_t begin = kNone;
    std::uint32_t end = kNone;
    bool matched() const { return begin != kNone; }
    std::size_t length() const { return matched() ? end - begin : 0; }
};

// "SubMatches" of one match: the capture groups, 0-based here as the component counts them.
// A view into its collection, valid while the collection lives.
class RegexSubMatches {
  public:
    std::size_t Count() const;
    // "Item"(j): the group's text; nullopt when j is out of range or the group did not take
    // part (the component's empty value), an empty text when it matched nothing.
    std::optional<std::u16string> Item(std::size_t j) const;
    RegexSpan Span(std::size_t j) const;

  private:
    friend class RegexMatch;
    RegexSubMatches(const RegexMatchCollection* owner, std::size_t match)
        : owner_(owner), match_(match) {}
    const RegexMatchCollection* owner_;
    std::size_t match_;
};

// One "Item" of a match collection. A view into its collection, valid while the collection
// lives.
class RegexMatch {
  public:
    std::u16string Value() const;
    std::size_t FirstIndex() const;  // in UTF-16 units
    std::size_t Length() const;      // in UTF-16 units
    RegexSubMatches SubMatches() const { return RegexSubMatches(owner_, match_); }
    RegexSpan Span() const;

  private:
    friend class RegexMatchCollection;
    RegexMatch(const RegexMatchCollection* owner, std::size_t match)
        : owner_(owner), match_(match) {}
    const RegexMatchCollection* owner_;
    std::size_t match_;
};

// What "Execute" returns: every match in subject order, with its groups. It owns a copy of
// the subject, so it stays readable after the component changes or goes.
class RegexMatchCollection final : public Component {
  public:
    RegexMatchCollection(std::u16string subject, std::size_t groupCount);

    std::size_t Count() const { return spans_.size() / Stride(); }
    // "Item"(i), 0-based; nullopt when i is out of range.
    std::optional<RegexMatch> Item(std::size_t i) const;
    std::size_t GroupCount() const { return groupCount_; }
    const std::u16string& Subject() const { return subject_; }

    // Used while matching: one span per group, the whole match first.
    void Add(const RegexSpan* spans);

  private:
    friend class RegexMatch;
    friend class RegexSubMatches;
    std::size_t Stride() const { return groupCount_ + 1; }
    RegexSpan SpanOf(std::size_t match, std::size_t group) const {
        return spans_[match * Stride() + group];
    }
    std::u16string TextOf(RegexSpan span) const {
        return subject_.substr(span.begin, span.end - span.begin);
    }

    std::u16string subject_;
    std::size_t groupCount_;
    std::vector<RegexSpan> spans_;
};

class RegexComponent final : public Component {
  public:
    // Limits that make a runaway match (catastrophic backtracking) fail instead of hanging:
    // steps of one search, backtracking depth, and heap for the backtracking frames. The steps
    // grow with the subject (kMatchLimitPerUnit for each of its units, kMatchLimit at least), so
    // that a search whose work is linear in a long subject (a lazy ".*?" over a line of tens of
    // megabytes) ends with what it finds; one that still runs into a limit is reported by
    // LastSearchHitLimit.
    static constexpr std::uint32_t kMatchLimit = 10'000'000;
    static constexpr std::uint32_t kMatchLimitPerUnit = 16;
    static constexpr std::uint32_t kDepthLimit = 1'000'000;
    static constexpr std::uint32_t kHeapLimitKiB = 256 * 1024;

    RegexComponent();
    ~RegexComponent() override;
    RegexComponent(const RegexComponent&) = delete;
    RegexComponent& operator=(const RegexComponent&) = delete;

    const std::u16string& Pattern() const { return pattern_; }
    void SetPattern(std::u16string pattern);
    bool IgnoreCase() const { return ignoreCase_; }
    void SetIgnoreCase(bool on);
    bool Multiline() const { return multiline_; }
    void SetMultiline(bool on);
    bool Global() const { return global_; }
    void SetGlobal(bool on) { global_ = on; }

    // All matches (only the first without Global); nullptr when the pattern is invalid or a
    // search ran into a limit. Takes the subject by value: the collection keeps it.
    std::shared_ptr<RegexMatchCollection> Execute(std::u16string subject);
    // The subject with every match (the first only without Global) replaced by the expanded
    // replacement: $1..$99, $& (the match), $` (before it), $' (after it), $$ (a dollar).
    // nullopt when the pattern is invalid or a search ran into a limit.
    std::optional<std::u16string> Replace(std::u16string_view subject,
                                          std::u16string_view replacement);
    // True when the subject holds a match; false also when the pattern is invalid.
    bool Test(std::u16string_view subject);

    // True when the last Execute, Replace or Test failed because a search ran into a limit
    // (steps, depth, heap, or memory), rather than finding what there is: its result (no
    // collection, no replacement, false) says nothing about the subject. False after a search
    // that ended normally and for an invalid pattern.
    bool LastSearchHitLimit() const { return lastSearchHitLimit_; }

  private:
    friend struct RegexComponentTestProbe;  // regex_component_test_probe.h
    struct Engine;
    // The compiled pattern for the current pattern and flags; nullptr when it is invalid.
    Engine* Compiled();
    // Runs the search loop, calling onMatch(spans) for each match; false on an error.
    template <class OnMatch>
    bool ForEachMatch(std::u16string_view subject, OnMatch&& onMatch);

    std::u16string pattern_;
    bool ignoreCase_ = false;
    bool multiline_ = false;
    bool global_ = false;
    bool lastSearchHitLimit_ = false;
    std::size_t patternWrites_ = 0;  // for RegexComponentTestProbe
    bool stale_ = true;  // pattern or a compile-time flag changed since the last compile
    std::unique_ptr<Engine> engine_;
};

}  // namespace zembrat::platform
