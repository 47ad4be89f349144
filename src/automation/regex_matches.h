// The last "Execute" of a regular-expression wrapper, read back in GBK.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/object_holder.h"
#include "automation/variant_value.h"
#include "platform/regex_component.h"
#include "text/codec.h"

namespace zembrat::automation {

// The component's match collection together with the GBK subject it ran on and, for every
// UTF-16 unit of the decoded subject, the byte its character starts at. With these a match or
// group comes back as the exact bytes it covers, and its byte position is exact, however many
// two-byte characters come before it. The subject is decoded once per Execute.
//
// Match numbers i are 1-based; group numbers j too, and j <= 0 means the whole match.
class GbkMatches {
  public:
    // Runs the component's "Execute" on the subject; the number of matches, 0 when it failed.
    int Execute(platform::RegexComponent& component, std::string_view subject);
    // The texts of group j (j <= 0: the whole match) of every match of the component on the
    // subject, in order; a group that took no part gives an empty text. The subject is read
    // where it lies and nothing of the search is kept: afterwards there are no matches, as
    // after Clear. Empty when the search failed.
    std::vector<std::string> GroupTexts(platform::RegexComponent& component,
                                        std::string_view subject, int j);
    void Clear();

    int Count() const;
    // Groups of the first match; 0 when there is no match.
    int FirstGroupCount() const;
    // The span of match i or its group j; none when out of range or the group took no part.
    platform::RegexSpan Span(int i, int j) const;
    // The text as a variant: empty when there is no such match or group or the group took no
    // part, otherwise a text (an empty one for a group that matched nothing).
    VariantValue Value(int i, int j) const;
    std::string Text(int i, int j) const;
    int UnitLength(int i, int j) const;
    int ByteLength(int i, int j) const;
    // 0-based byte offset in the subject; -2 when there is no such match or group, or the
    // group took no part.
    std::int64_t BytePosition(int i, int j) const;

  private:
    const platform::RegexMatchCollection* Collection() const {
        return matches_.As<platform::RegexMatchCollection>();
    }

    ObjectHolder matches_;
    std::string subject_;
    text::MappedUtf16 mapping_;  // the subject's units back to its bytes
};

}  // namespace zembrat::automation
