#include "automation/regex_object.h"

#include <algorithm>
#include <utility>

#include "text/codec.h"

namespace zembrat::automation {
namespace {

constexpr std::uint32_t kIgnoreCase = 1;
constexpr std::uint32_t kMultiline = 2;
constexpr std::uint32_t kGlobal = 4;

// A holder that does not hold our component counts as a failed creation.
ObjectHolder RegexComponentFrom(const RegexComponentFactory& factory) {
    ObjectHolder made = factory ? factory() : ObjectHolder();
    if (!made.As<platform::RegexComponent>()) made.Release();
    return made;
}

}  // namespace

ObjectHolder MakeRegexComponent() {
    return ObjectHolder::Make<platform::RegexComponent>();
}

// ---- RegexObject ----

RegexObject::RegexObject() : RegexObject(MakeRegexComponent) {}

RegexObject::RegexObject(const RegexComponentFactory& factory) {
    // Two attempts, as on the original platform. There a failed attempt was followed by the
    // scripting library's registration command; our component is linked in, so there is
    // nothing to register and the second attempt simply asks again.
    for (int attempt = 0; attempt < 2 && component_.empty(); ++attempt) {
        component_ = RegexComponentFrom(factory);
    }
}

bool RegexObject::SetPattern(std::string_view pattern, bool caseSensitive, bool singleLine,
                             bool firstOnly) {
    platform::RegexComponent* component = Component();
    if (!component) return false;
    const std::uint32_t flags = (caseSensitive ? 0 : kIgnoreCase) | (singleLine ? 0 : kMultiline) |
                                (firstOnly ? 0 : kGlobal);
    if (pattern == pattern_ && flags == flags_) return true;
    if (!pattern.empty()) {
        pattern_.assign(pattern);
        component->SetPattern(text::Utf16FromGbk(pattern));
    }
    flags_ = flags;
    component->SetIgnoreCase((flags & kIgnoreCase) != 0);
    component->SetMultiline((flags & kMultiline) != 0);
    component->SetGlobal((flags & kGlobal) != 0);
    return true;
}

int RegexObject::Execute(std::string_view subject) {
    platform::RegexComponent* component = Component();
    if (!component) return 0;
    return matches_.Execute(*component, subject);
}

int RegexObject::SetPatternAndExecute(std::string_view pattern, std::string_view subject,
                                      bool caseSensitive, bool singleLine, bool firstOnly) {
    SetPattern(pattern, caseSensitive, singleLine, firstOnly);
    return Execute(subject);
}

int RegexObject::MatchCount() const {
    return matches_.Count();
}

VariantValue RegexObject::MatchValue(int i, int j) const {
    return matches_.Value(i, j);
}

std::string RegexObject::MatchText(int i, int j) const {
    return matches_.Text(i, j);
}

std::string RegexObject::SubMatchText(int i, int j) const {
    return matches_.Text(i, j);
}

std::vector<std::string> RegexObject::GroupTexts(std::string_view subject, int j) {
    platform::RegexComponent* component = Component();
    if (!component) {
        matches_.Clear();
        return {};
    }
    return matches_.GroupTexts(*component, subject, j);
}

std::string RegexObject::Replace(std::string_view subject, std::string_view replacement) {
    platform::RegexComponent* component = Component();
    if (!component) return {};
    const std::optional<std::u16string> replaced =
        component->Replace(text::Utf16FromGbk(subject), text::Utf16FromGbk(replacement));
    return replaced ? text::GbkFromUtf16(*replaced) : std::string();
}

std::string RegexObject::Replace(std::string_view subject, std::string_view replacement,
                                 std::string_view newPattern, bool caseSensitive, bool singleLine,
                                 bool firstOnly) {
    SetPattern(newPattern, caseSensitive, singleLine, firstOnly);
    return Replace(subject, replacement);
}

bool RegexObject::Test(std::string_view subject) {
    platform::RegexComponent* component = Component();
    return component && component->Test(text::Utf16FromGbk(subject));
}

std::string RegexObject::GetPattern() const {
    return HasComponent() ? pattern_ : std::string();
}

int RegexObject::FirstMatchGroupCount() const {
    return matches_.FirstGroupCount();
}

int RegexObject::MatchLength(int i, int j) const {
    return matches_.UnitLength(i, j);
}

// The whole match is counted in bytes as well: the original gave its UTF-16 length here,
// which is not its length in the subject once two-byte characters are in it.
int RegexObject::MatchByteLength(int i, int j) const {
    return matches_.ByteLength(i, j);
}

// ---- RegexObjectCp936 ----

RegexObjectCp936::RegexObjectCp936() : RegexObjectCp936(MakeRegexComponent) {}

RegexObjectCp936::RegexObjectCp936(RegexComponentFactory factory) : factory_(std::move(factory)) {}

RegexObjectCp936::~RegexObjectCp936() {
    Release();
}

void RegexObjectCp936::Release() {
    component_.Release();
    matches_.Clear();
}

bool RegexObjectCp936::Create(std::string_view pattern, bool ignoreCase, bool multiline,
                              bool global) {
    component_ = RegexComponentFrom(factory_);
    platform::RegexComponent* component = Component();
    if (!component) return false;
    component->SetIgnoreCase(ignoreCase);
    component->SetMultiline(multiline);
    component->SetGlobal(global);
    component->SetPattern(text::Utf16FromGbk(pattern));
    return true;
}

int RegexObjectCp936::Execute(std::string_view subject) {
    platform::RegexComponent* component = Component();
    if (!component) return 0;
    return matches_.Execute(*component, subject);
}

std::string RegexObjectCp936::GetPattern() const {
    const platform::RegexComponent* component = Component();
    return component ? text::GbkFromUtf16(component->Pattern()) : std::string();
}

std::optional<std::u16string> RegexObjectCp936::ReplaceUtf16(std::string_view subject,
                                                             std::string_view replacement) {
    platform::RegexComponent* component = Component();
    if (!component) return std::nullopt;
    return component->Replace(text::Utf16FromGbk(subject), text::Utf16FromGbk(replacement));
}

// The original dropped every pair of zero bytes from the result's UTF-16 bytes, which also
// took apart characters whose code has a zero byte (U+0100 after an ASCII letter, say); only
// whole NUL characters are taken out here.
std::string RegexObjectCp936::ReplaceStripped(std::string_view subject,
                                              std::string_view replacement) {
    std::optional<std::u16string> replaced = ReplaceUtf16(subject, replacement);
    if (!replaced) return {};
    std::erase(*replaced, u'\0');
    return text::GbkFromUtf16(*replaced);
}

std::string RegexObjectCp936::Replace(std::string_view subject, std::string_view replacement) {
    const std::optional<std::u16string> replaced = ReplaceUtf16(subject, replacement);
    return replaced ? text::GbkFromUtf16(*replaced) : std::string();
}

int RegexObjectCp936::MatchCount() const {
    return matches_.Count();
}

std::string RegexObjectCp936::MatchText(int i) const {
    return matches_.Text(i, 0);
}

std::string RegexObjectCp936::SubMatchText(int i, int j) const {
    return matches_.Text(i, j);
}

int RegexObjectCp936::FirstMatchGroupCount() const {
    return matches_.FirstGroupCount();
}

// The original looked for the match text in the subject from the byte whose number is the
// match's UTF-16 index; with two-byte characters before the match that can find an earlier
// copy of the same text. The position here is the match's own.
std::string RegexObjectCp936::MatchTextAt(int i, std::int64_t& bytePosition,
                                          bool wantPosition) const {
    if (wantPosition) bytePosition = matches_.BytePosition(i, 0);
    return matches_.Text(i, 0);
}

std::string RegexObjectCp936::SubMatchTextAt(int i, int j, std::int64_t& bytePosition,
                                             bool wantPosition) const {
    if (wantPosition) bytePosition = matches_.BytePosition(i, j);
    return matches_.Text(i, j);
}

}  // namespace zembrat::automation
