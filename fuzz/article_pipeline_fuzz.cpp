// One article's text pipeline on random bytes: the GBK helpers, deciding the image references
// and rewriting them with random new addresses. Every
// rewrite is checked against a plain character-by-character reference: bytes outside the
// replaced occurrences stay as they were, and no occurrence starts on a second byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "job/image_names.h"
#include "job/references.h"
#include "platform/event_points.h"
#include "text/gbk.h"

namespace {
using namespace zembrat;

// Character starts of s, stepping a byte of 0x80 or more together with the byte after it.
std::vector<bool> Starts(const std::string& s) {
    std::vector<bool> start(s.size() + 1, false);
    for (std::size_t i = 0; i < s.size(); i += text::CharLength(s, i)) start[i] = true;
    start[s.size()] = true;
    return start;
}

std::string ReferenceReplace(const std::string& s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    const std::vector<bool> start = Starts(s);
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (start[i] && s.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return 0;
    // The first bytes pick the settings; the rest is the article.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 32;
    const std::string settings = input.substr(std::min<std::size_t>(1, input.size()), split);
    const std::string article = input.substr(std::min(input.size(), split + 1));

    // The helpers' own rules.
    const std::vector<bool> start = Starts(article);
    for (const char* needle : {"<img", "\\", "|", "src=", "\xA1\xA1"}) {
        for (std::size_t p = text::Find(article, needle); p != text::kNotFound;
             p = text::Find(article, needle, p + std::char_traits<char>::length(needle))) {
            FUZZ_CHECK(start[p]);
        }
    }
    const std::string trimmed = text::Trim(article);
    FUZZ_CHECK(text::Trim(trimmed) == trimmed);
    FUZZ_CHECK(text::ReplaceAll(article, settings, settings) == article);
    const std::vector<std::string> pieces = text::Split(article, "|");
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) joined += (i ? "|" : "") + pieces[i];
    FUZZ_CHECK(joined == article);

    // Deciding the references.
    job::ReferenceDecider decider(
        {settings.size() % 2 ? "old.example" : "", settings.size() % 3 == 1 ? settings : "", {}});
    const std::vector<job::RefVerdict> verdicts =
        decider.Decide(article, false, platform::NoEventPoints());
    const std::vector<job::ImageRef> refs = job::KeptReferences(verdicts);
    FUZZ_CHECK(refs.size() <= verdicts.size());
    for (const job::ImageRef& ref : refs) {
        FUZZ_CHECK(!ref.sourceValue.empty());
        FUZZ_CHECK(text::Find(article, ref.sourceValue) != text::kNotFound);
        FUZZ_CHECK(text::AsciiLower(ref.address.substr(0, 7)) == "http://");
    }

    // Rewriting them one after another with random new addresses.
    std::string text = article;
    std::size_t k = 0;
    std::vector<std::string> addresses;
    addresses.reserve(refs.size());
    for (const job::ImageRef& ref : refs) {
        const std::string name = job::ContentName(settings + std::to_string(k++));
        const std::string& address = addresses.emplace_back(
            job::NewAddress(job::ImageRelPath("files/img", name, job::ImageExtension(ref.address)),
                            settings.size() % 5 == 2 ? settings : ""));
        const std::string expected = ReferenceReplace(text, ref.sourceValue, address);
        text = job::Rewrite(text, ref.sourceValue, address);
        FUZZ_CHECK(text == expected);
    }
    // All of them at once give the same; so do the article's own texts put in for them.
    for (const bool ownTexts : {false, true}) {
        std::vector<text::TextReplacement> rewrites;
        std::string expected = article;
        for (std::size_t i = 0; i < refs.size(); ++i) {
            const std::string_view to =
                ownTexts ? refs[(i + 1) % refs.size()].sourceValue : std::string_view(addresses[i]);
            rewrites.push_back({refs[i].sourceValue, to});
            expected = job::Rewrite(expected, refs[i].sourceValue, to);
        }
        std::string once = article, scratch;
        job::RewriteInPlace(once, rewrites, scratch);
        FUZZ_CHECK(once == expected);
    }
    return 0;
}
