// What the readers find in documents, for the oracle test (tests/job/reader_oracle.py) to set
// beside what cmark and html5lib find. Reads records from standard input, each a line
// "<reading> <length>" followed by that many bytes, where reading is "markdown" (a Markdown
// article under the Markdown option) or "html" (a page under HTML rules); prints for each one
// line: the addresses fetched for its sources (decoded, as the run asks for them), each written
// as hex, separated by spaces. The documents are read as UTF-8 articles, except under the reading
// "markdown-gbk", a Markdown article in GBK.
// Under "rewrite-markdown" and "rewrite-html" each image the run would download (http, https and
// "/..." with the old prefix "old.example")
// is rewritten as a run rewrites it, the k-th to "http://new.example/k.png"; the line holds the
// rewritten document, then the address fetched for each k, all as hex.
#include <cstdio>
#include <iostream>
#include <string>

#include "job/article_images.h"
#include "job/ref_scanner.h"
#include "job/references.h"
#include "platform/event_points.h"

namespace {

using namespace zembrat::job;

void AddHex(std::string& line, std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    if (!line.empty()) line += ' ';
    for (const char c : bytes) {
        line += kHex[static_cast<unsigned char>(c) >> 4];
        line += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
    if (bytes.empty()) line += '-';
}

std::string Rewritten(std::string document, const ExtensionOptions& options) {
    ReferenceDecider decider({"old.example", "", options});
    const std::vector<RefVerdict> verdicts =
        decider.Decide(document, true, zembrat::platform::NoEventPoints());
    const std::vector<FoundSource> found =
        ScanSources(document, options, ArticleEncoding::Utf8, true);
    std::vector<std::string> addresses, fetched;
    for (const RefVerdict& v : verdicts) {
        if (v.decision != RefDecision::Download) continue;
        addresses.push_back("http://new.example/" + std::to_string(addresses.size()) + ".png");
        // What the reading fetches for the source, before it is completed.
        for (const FoundSource& f : found) {
            if (f.text == v.sourceValue) {
                fetched.push_back(f.Fetched());
                break;
            }
        }
    }
    const std::vector<std::string_view> stored(addresses.begin(), addresses.end());
    std::string scratch;
    RewriteStoredSources(document, KeptReferences(verdicts), stored, verdicts,
                         RewritesWhereFound(options), scratch);
    std::string line;
    AddHex(line, document);
    for (const std::string& f : fetched) AddHex(line, f);
    return line;
}

}  // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string reading;
    std::size_t length = 0;
    while (std::cin >> reading >> length) {
        std::cin.get();  // the line break after the header
        std::string document(length, '\0');
        std::cin.read(document.data(), static_cast<std::streamsize>(length));
        ExtensionOptions options;
        options.markdown = reading.find("markdown") != std::string::npos;
        options.htmlRules = reading.ends_with("html");
        if (reading.starts_with("rewrite-")) {
            options.https = true;
            std::cout << Rewritten(document, options) << '\n' << std::flush;
            continue;
        }
        const ArticleEncoding encoding =
            reading == "markdown-gbk" ? ArticleEncoding::Gbk : ArticleEncoding::Utf8;
        std::string line;
        for (const FoundSource& f : ScanSources(document, options, encoding, true))
            AddHex(line, f.Fetched());
        std::cout << line << '\n' << std::flush;
    }
    return 0;
}
