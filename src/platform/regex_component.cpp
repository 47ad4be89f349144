#include "platform/regex_component.h"

#include "platform/regex_dialect.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace zembrat::platform {
namespace {

constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 8 * 1024 * 1024;

// One piece of a parsed replacement text.
struct ReplacementPiece {
    enum class Kind { Text, Group, Before, After } kind = Kind::Text;
    std::u16string text;
    std::size_t group = 0;  // 0: the whole match
};

// "$$", "$&", "$`", "$'", "$n" and "$nn": a two-digit number is read when that group exists,
// else one digit when that group exists, else the "$" is a character.
std::vector<ReplacementPiece> ParseReplacement(std::u16string_view r, std::size_t groups) {
    std::vector<ReplacementPiece> pieces;
    auto text = [&](std::u16string_view t) {
        if (pieces.empty() || pieces.back().kind != ReplacementPiece::Kind::Text)
            pieces.push_back({});
        pieces.back().text += t;
    };
    auto special = [&](ReplacementPiece::Kind kind, std::size_t group) {
        pieces.push_back({kind, {}, group});
    };
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (r[i] != u'$' || i + 1 == r.size()) {
            text(r.substr(i, 1));
            continue;
        }
        const char16_t n = r[i + 1];
        if (n == u'$') {
            text(u"$");
            ++i;
        } else if (n == u'&') {
            special(ReplacementPiece::Kind::Group, 0);
            ++i;
        } else if (n == u'`') {
            special(ReplacementPiece::Kind::Before, 0);
            ++i;
        } else if (n == u'\'') {
            special(ReplacementPiece::Kind::After, 0);
            ++i;
        } else if (IsDigit(n)) {
            const std::size_t one = n - u'0';
            if (i + 2 < r.size() && IsDigit(r[i + 2])) {
                const std::size_t two = one * 10 + (r[i + 2] - u'0');
                if (two >= 1 && two <= groups) {
                    special(ReplacementPiece::Kind::Group, two);
                    i += 2;
                    continue;
                }
            }
            if (one >= 1 && one <= groups) {
                special(ReplacementPiece::Kind::Group, one);
                ++i;
            } else {
                text(u"$");
            }
        } else {
            text(u"$");
        }
    }
    return pieces;
}

// The steps one search may take on a subject of size units.
std::uint32_t MatchLimitFor(std::size_t size) {
    const std::uint64_t limit = std::uint64_t{RegexComponent::kMatchLimitPerUnit} * size;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
        limit, RegexComponent::kMatchLimit, std::numeric_limits<std::uint32_t>::max()));
}

// A search that stopped on a limit or for want of memory, not on what the subject holds.
bool IsLimit(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
           rc == PCRE2_ERROR_NOMEMORY;
}

}  // namespace

// ---- match collection ----

RegexMatchCollection::RegexMatchCollection(std::u16string subject, std::size_t groupCount)
    : subject_(std::move(subject)), groupCount_(groupCount) {}

void RegexMatchCollection::Add(const RegexSpan* spans) {
    spans_.insert(spans_.end(), spans, spans + Stride());
}

std::optional<RegexMatch> RegexMatchCollection::Item(std::size_t i) const {
    if (i >= Count()) return std::nullopt;
    return RegexMatch(this, i);
}

std::u16string RegexMatch::Value() const {
    return owner_->TextOf(Span());
}
std::size_t RegexMatch::FirstIndex() const {
    return Span().begin;
}
std::size_t RegexMatch::Length() const {
    return Span().length();
}
RegexSpan RegexMatch::Span() const {
    return owner_->SpanOf(match_, 0);
}

std::size_t RegexSubMatches::Count() const {
    return owner_->GroupCount();
}

std::optional<std::u16string> RegexSubMatches::Item(std::size_t j) const {
    const RegexSpan span = Span(j);
    if (!span.matched()) return std::nullopt;
    return owner_->TextOf(span);
}

RegexSpan RegexSubMatches::Span(std::size_t j) const {
    if (j >= Count()) return {};
    return owner_->SpanOf(match_, j + 1);
}

// ---- component ----

struct RegexComponent::Engine {
    pcre2_code* code = nullptr;
    pcre2_match_data* data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jitStack = nullptr;
    std::size_t groups = 0;

    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        pcre2_jit_stack_free(jitStack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
};

RegexComponent::RegexComponent() = default;
RegexComponent::~RegexComponent() = default;

void RegexComponent::SetPattern(std::u16string pattern) {
    ++patternWrites_;
    pattern_ = std::move(pattern);
    stale_ = true;
}

void RegexComponent::SetIgnoreCase(bool on) {
    if (on != ignoreCase_) stale_ = true;
    ignoreCase_ = on;
}

void RegexComponent::SetMultiline(bool on) {
    if (on != multiline_) stale_ = true;  // "^" and "$" translate differently
    multiline_ = on;
}

RegexComponent::Engine* RegexComponent::Compiled() {
    if (!stale_) return engine_.get();
    stale_ = false;
    engine_.reset();
    std::optional<std::u16string> translated = TranslatePattern(pattern_, multiline_);
    if (!translated) return nullptr;

    pcre2_compile_context* compileContext = pcre2_compile_context_create(nullptr);
    if (!compileContext) return nullptr;
    pcre2_set_newline(compileContext, PCRE2_NEWLINE_LF);
    // UTF so that IgnoreCase folds every script's letters; MATCH_INVALID_UTF so that a subject
    // with a stray surrogate is searched (such units match nothing) instead of refused, and so
    // that the subject is not re-validated on every search of the loop.
    std::uint32_t options =
        PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_BACKSLASH_C;
    if (ignoreCase_) options |= PCRE2_CASELESS;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated->data()), translated->size(), options,
                      &error, &errorOffset, compileContext);
    pcre2_compile_context_free(compileContext);
    if (!code) return nullptr;

    auto engine = std::make_unique<Engine>();
    engine->code = code;
    engine->data = pcre2_match_data_create_from_pattern(code, nullptr);
    engine->context = pcre2_match_context_create(nullptr);
    if (!engine->data || !engine->context) return nullptr;
    pcre2_set_depth_limit(engine->context, kDepthLimit);
    pcre2_set_heap_limit(engine->context, kHeapLimitKiB);
    // Without JIT support (or memory for it) the interpreter does the same work, slower.
    if (pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0) {
        engine->jitStack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
        if (engine->jitStack) pcre2_jit_stack_assign(engine->context, nullptr, engine->jitStack);
    }
    std::uint32_t groups = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
    engine->groups = groups;
    engine_ = std::move(engine);
    return engine_.get();
}

template <class OnMatch>
bool RegexComponent::ForEachMatch(std::u16string_view subject, OnMatch&& onMatch) {
    lastSearchHitLimit_ = false;
    Engine* engine = Compiled();
    if (!engine) return false;
    if (subject.size() >= RegexSpan::kNone) return false;  // spans are 32-bit
    const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data());
    const std::size_t size = subject.size();
    pcre2_set_match_limit(engine->context, MatchLimitFor(size));
    std::vector<RegexSpan> spans(engine->groups + 1);
    std::size_t from = 0;
    while (from <= size) {
        int rc = pcre2_match(engine->code, units, size, from, 0, engine->data, engine->context);
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
            // The interpreter keeps its frames on the heap, within the depth and heap limits.
            rc = pcre2_match(engine->code, units, size, from, PCRE2_NO_JIT, engine->data,
                             engine->context);
        }
        if (rc == PCRE2_ERROR_NOMATCH) break;
        if (rc <= 0) {
            lastSearchHitLimit_ = IsLimit(rc);
            return false;
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(engine->data);
        for (std::size_t g = 0; g < spans.size(); ++g) {
            const bool set = g < static_cast<std::size_t>(rc) && ovector[2 * g] != PCRE2_UNSET;
            spans[g] = set ? RegexSpan{static_cast<std::uint32_t>(ovector[2 * g]),
                                       static_cast<std::uint32_t>(ovector[2 * g + 1])}
                           : RegexSpan{};
        }
        if (!onMatch(spans.data())) break;
        // The next search starts where this match ended; after an empty match, one character
        // further (a whole surrogate pair, so a search never starts inside one).
        const std::size_t end = spans[0].end;
        if (end > spans[0].begin) {
            from = end;
        } else {
            from = end + ((end + 1 < size && IsHighSurrogate(subject[end]) &&
                           IsLowSurrogate(subject[end + 1]))
                              ? 2
                              : 1);
        }
    }
    return true;
}

std::shared_ptr<RegexMatchCollection> RegexComponent::Execute(std::u16string subject) {
    Engine* engine = Compiled();
    if (!engine) return nullptr;
    auto matches = std::make_shared<RegexMatchCollection>(std::move(subject), engine->groups);
    const bool ok = ForEachMatch(matches->Subject(), [&](const RegexSpan* spans) {
        matches->Add(spans);
        return global_;
    });
    if (!ok) return nullptr;
    return matches;
}

std::optional<std::u16string> RegexComponent::Replace(std::u16string_view subject,
                                                      std::u16string_view replacement) {
    Engine* engine = Compiled();
    if (!engine) return std::nullopt;
    const std::vector<ReplacementPiece> pieces = ParseReplacement(replacement, engine->groups);
    std::u16string out;
    std::size_t copied = 0;
    const bool ok = ForEachMatch(subject, [&](const RegexSpan* spans) {
        out.append(subject, copied, spans[0].begin - copied);
        for (const ReplacementPiece& piece : pieces) {
            switch (piece.kind) {
                case ReplacementPiece::Kind::Text:
                    out += piece.text;
                    break;
                case ReplacementPiece::Kind::Group:
                    if (spans[piece.group].matched()) {
                        out.append(subject, spans[piece.group].begin, spans[piece.group].length());
                    }
                    break;
                case ReplacementPiece::Kind::Before:
                    out.append(subject, 0, spans[0].begin);
                    break;
                case ReplacementPiece::Kind::After:
                    out.append(subject, spans[0].end);
                    break;
            }
        }
        copied = spans[0].end;
        return global_;
    });
    if (!ok) return std::nullopt;
    out.append(subject, copied);
    return out;
}

bool RegexComponent::Test(std::u16string_view subject) {
    bool found = false;
    const bool ok = ForEachMatch(subject, [&](const RegexSpan*) {
        found = true;
        return false;
    });
    return ok && found;
}

}  // namespace zembrat::platform
