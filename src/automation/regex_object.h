// The program's wrappers of the regular-expression component. Texts go in and come out as
// GBK; the component works on UTF-16 and the wrappers convert on the way. A match's or
// group's text is the exact bytes it covers in the subject.
//
// Match numbers and group numbers are 1-based; a group number of 0 or less means the whole
// match. A number out of range gives the empty result. A wrapper left without a component
// (its creation failed) gives the empty result of every operation: 0, empty text, false.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/object_holder.h"
#include "automation/regex_escape.h"
#include "automation/regex_matches.h"
#include "automation/variant_value.h"
#include "platform/regex_component.h"

namespace zembrat::automation {

// Makes one regular-expression component, or an empty holder when it cannot.
using RegexComponentFactory = std::function<ObjectHolder()>;

// The program's own component.
ObjectHolder MakeRegexComponent();

// The component driven with the component's own flag sense inverted: the flags given to
// SetPattern are "case-sensitive", "single-line" and "first only", all off when omitted.
class RegexObject {
  public:
    RegexObject();
    // Creation tries the factory twice.
    explicit RegexObject(const RegexComponentFactory& factory);
    RegexObject(const RegexObject&) = delete;
    RegexObject& operator=(const RegexObject&) = delete;
    RegexObject(RegexObject&&) = default;
    RegexObject& operator=(RegexObject&&) = default;

    // Sends the pattern and flags; does nothing when both equal the ones last sent. An empty
    // pattern keeps the previous one and only changes the flags.
    bool SetPattern(std::string_view pattern, bool caseSensitive = false, bool singleLine = false,
                    bool firstOnly = false);
    int Execute(std::string_view subject);
    int SetPatternAndExecute(std::string_view pattern, std::string_view subject,
                             bool caseSensitive = false, bool singleLine = false,
                             bool firstOnly = false);
    int MatchCount() const;
    VariantValue MatchValue(int i, int j) const;
    std::string MatchText(int i, int j = 0) const;
    std::string SubMatchText(int i, int j) const;
    // Execute and SubMatchText(i, j) of every match i, without keeping the subject or the
    // matches: afterwards MatchCount() is 0. For long subjects read once.
    std::vector<std::string> GroupTexts(std::string_view subject, int j);
    std::string Replace(std::string_view subject, std::string_view replacement);
    // The same after SetPattern(newPattern, flags...).
    std::string Replace(std::string_view subject, std::string_view replacement,
                        std::string_view newPattern, bool caseSensitive = false,
                        bool singleLine = false, bool firstOnly = false);
    bool Test(std::string_view subject);
    std::string GetPattern() const;
    int FirstMatchGroupCount() const;
    // In UTF-16 units.
    int MatchLength(int i, int j) const;
    // In bytes of the GBK subject.
    int MatchByteLength(int i, int j) const;

    bool HasComponent() const { return Component() != nullptr; }
    // True when the last Execute, GroupTexts, Replace or Test gave nothing because the search
    // ran into one of the component's limits (see RegexComponent::LastSearchHitLimit): the
    // subject was not read whole.
    bool LastSearchHitLimit() const {
        const platform::RegexComponent* component = Component();
        return component && component->LastSearchHitLimit();
    }

  private:
    platform::RegexComponent* Component() const {
        return component_.As<platform::RegexComponent>();
    }

    ObjectHolder component_;
    GbkMatches matches_;
    std::uint32_t flags_ = 0;  // bit 0 IgnoreCase, bit 1 Multiline, bit 2 Global
    std::string pattern_;
};

// The job's pattern object: the escaping helpers, and a RegexObject whose flags read the
// component's way round (ignore case, multiline, global; all on when omitted).
class PatternMatcher {
  public:
    PatternMatcher() = default;
    explicit PatternMatcher(const RegexComponentFactory& factory) : regex_(factory) {}

    static std::string WildcardToPattern(std::string_view wildcards) {
        return automation::WildcardToPattern(wildcards);
    }
    static std::string EscapeAll(std::string_view text) { return automation::EscapeAll(text); }
    static std::string EscapeKeepAlternation(std::string_view text) {
        return automation::EscapeKeepAlternation(text);
    }

    std::string MatchText(int i) const { return regex_.MatchText(i, 0); }
    std::string SubMatchText(int i, int j) const { return regex_.SubMatchText(i, j); }
    int Execute(std::string_view subject) { return regex_.Execute(subject); }
    // The texts of group j of every match, nothing of the search kept (see RegexObject).
    std::vector<std::string> GroupTexts(std::string_view subject, int j) {
        return regex_.GroupTexts(subject, j);
    }
    std::string Replace(std::string_view subject, std::string_view replacement) {
        return regex_.Replace(subject, replacement);
    }
    bool SetPattern(std::string_view pattern, bool ignoreCase = true, bool multiline = true,
                    bool global = true) {
        return regex_.SetPattern(pattern, !ignoreCase, !multiline, !global);
    }
    std::string GetPattern() const { return regex_.GetPattern(); }
    int MatchCount() const { return regex_.MatchCount(); }
    int FirstMatchGroupCount() const { return regex_.FirstMatchGroupCount(); }

    bool HasComponent() const { return regex_.HasComponent(); }
    // True when the last search ran into a limit and found nothing (see RegexObject).
    bool LastSearchHitLimit() const { return regex_.LastSearchHitLimit(); }

  private:
    RegexObject regex_;
};

// The article filter's pattern object: the component is made by Create, and matches can
// report their byte position in the subject.
class RegexObjectCp936 {
  public:
    RegexObjectCp936();
    explicit RegexObjectCp936(RegexComponentFactory factory);
    ~RegexObjectCp936();
    RegexObjectCp936(const RegexObjectCp936&) = delete;
    RegexObjectCp936& operator=(const RegexObjectCp936&) = delete;

    static std::string WildcardToPattern(std::string_view wildcards) {
        return automation::WildcardToPattern(wildcards);
    }
    static std::string EscapeAll(std::string_view text) { return automation::EscapeAll(text); }
    static std::string EscapeKeepAlternation(std::string_view text) {
        return automation::EscapeKeepAlternation(text);
    }

    // Lets go of the component, the matches and the subject.
    void Release();
    // A new component with these flags and pattern; false when none could be made.
    bool Create(std::string_view pattern, bool ignoreCase = true, bool multiline = true,
                bool global = true);
    int Execute(std::string_view subject);
    // The component's pattern.
    std::string GetPattern() const;
    // As Replace, with the NUL characters taken out of the result.
    std::string ReplaceStripped(std::string_view subject, std::string_view replacement);
    std::string Replace(std::string_view subject, std::string_view replacement);
    int MatchCount() const;
    std::string MatchText(int i) const;
    std::string SubMatchText(int i, int j) const;
    int FirstMatchGroupCount() const;
    // The text of match i; with wantPosition, bytePosition is set to its 0-based byte offset
    // in the subject (-2 when there is no such match).
    std::string MatchTextAt(int i, std::int64_t& bytePosition, bool wantPosition = false) const;
    // The same for group j of match i (-2 also when the group took no part).
    std::string SubMatchTextAt(int i, int j, std::int64_t& bytePosition,
                               bool wantPosition = false) const;

  private:
    platform::RegexComponent* Component() const {
        return component_.As<platform::RegexComponent>();
    }
    std::optional<std::u16string> ReplaceUtf16(std::string_view subject,
                                               std::string_view replacement);

    RegexComponentFactory factory_;
    ObjectHolder component_;
    GbkMatches matches_;  // keeps the subject too
};

}  // namespace zembrat::automation
