#include "automation/regex_matches.h"

#include <algorithm>
#include <utility>

#include "text/codec.h"

namespace zembrat::automation {

int GbkMatches::Execute(platform::RegexComponent& component, std::string_view subject) {
    Clear();
    if (subject.size() >= 0xFFFFFFFFu) return 0;  // byte offsets are 32-bit
    text::MappedUtf16 decoded = text::Utf16FromGbkMapped(subject);
    std::shared_ptr<platform::RegexMatchCollection> found =
        component.Execute(std::move(decoded.text));
    if (!found) return 0;
    matches_ = ObjectHolder(std::move(found));
    subject_.assign(subject);
    mapping_ = std::move(decoded);
    return Count();
}

std::vector<std::string> GbkMatches::GroupTexts(platform::RegexComponent& component,
                                                std::string_view subject, int j) {
    Clear();
    std::vector<std::string> texts;
    if (subject.size() >= 0xFFFFFFFFu) return texts;  // byte offsets are 32-bit
    text::MappedUtf16 decoded = text::Utf16FromGbkMapped(subject);
    const std::shared_ptr<platform::RegexMatchCollection> found =
        component.Execute(std::move(decoded.text));
    if (!found) return texts;
    const std::size_t group = j <= 0 ? 0 : static_cast<std::size_t>(j);
    texts.reserve(found->Count());
    for (std::size_t i = 0; i < found->Count(); ++i) {
        const std::optional<platform::RegexMatch> match = found->Item(i);
        const platform::RegexSpan span =
            group == 0 ? match->Span() : match->SubMatches().Span(group - 1);
        if (!span.matched()) {
            texts.emplace_back();
            continue;
        }
        const std::size_t from = decoded.ByteOffset(subject, span.begin);
        texts.emplace_back(subject.substr(from, decoded.ByteOffset(subject, span.end) - from));
    }
    return texts;
}

void GbkMatches::Clear() {
    matches_.Release();
    subject_.clear();
    subject_.shrink_to_fit();
    mapping_ = text::MappedUtf16();
}

int GbkMatches::Count() const {
    const auto* matches = Collection();
    return matches ? static_cast<int>(matches->Count()) : 0;
}

int GbkMatches::FirstGroupCount() const {
    const auto* matches = Collection();
    if (!matches || matches->Count() == 0) return 0;
    return static_cast<int>(matches->Item(0)->SubMatches().Count());
}

platform::RegexSpan GbkMatches::Span(int i, int j) const {
    const auto* matches = Collection();
    if (!matches || i < 1) return {};
    const std::optional<platform::RegexMatch> match =
        matches->Item(static_cast<std::size_t>(i) - 1);
    if (!match) return {};
    if (j <= 0) return match->Span();
    return match->SubMatches().Span(static_cast<std::size_t>(j) - 1);
}

VariantValue GbkMatches::Value(int i, int j) const {
    if (!Span(i, j).matched()) return {};
    return VariantValue::Text(Text(i, j));
}

std::string GbkMatches::Text(int i, int j) const {
    const platform::RegexSpan span = Span(i, j);
    if (!span.matched()) return {};
    const std::size_t from = mapping_.ByteOffset(subject_, span.begin);
    return subject_.substr(from, mapping_.ByteOffset(subject_, span.end) - from);
}

int GbkMatches::UnitLength(int i, int j) const {
    return static_cast<int>(Span(i, j).length());
}

int GbkMatches::ByteLength(int i, int j) const {
    const platform::RegexSpan span = Span(i, j);
    if (!span.matched()) return 0;
    return static_cast<int>(mapping_.ByteOffset(subject_, span.end) -
                            mapping_.ByteOffset(subject_, span.begin));
}

std::int64_t GbkMatches::BytePosition(int i, int j) const {
    const platform::RegexSpan span = Span(i, j);
    return span.matched() ? static_cast<std::int64_t>(mapping_.ByteOffset(subject_, span.begin))
                          : -2;
}

}  // namespace zembrat::automation
