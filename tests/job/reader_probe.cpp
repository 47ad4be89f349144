// What the readers find in documents, for the oracle test (tests/job/reader_oracle.py) to set
// beside what cmark and html5lib find. Reads records from standard input, each a line
// "<reading> <length>" followed by that many bytes, where reading is "markdown" (a Markdown
// article under the Markdown option) or "html" (a page under HTML rules); prints for each one
// line: the addresses fetched for its sources (decoded, as the run asks for them), each written
// as hex, separated by spaces. The documents are read as UTF-8 articles, except under the reading
// "markdown-gbk", a Markdown article in GBK.
#include <cstdio>
#include <iostream>
#include <string>

#include "job/ref_scanner.h"

int main() {
    using namespace zembrat::job;
    std::ios::sync_with_stdio(false);
    std::string reading;
    std::size_t length = 0;
    static const char kHex[] = "0123456789abcdef";
    while (std::cin >> reading >> length) {
        std::cin.get();  // the line break after the header
        std::string document(length, '\0');
        std::cin.read(document.data(), static_cast<std::streamsize>(length));
        ExtensionOptions options;
        options.markdown = reading.starts_with("markdown");
        options.htmlRules = reading == "html";
        const ArticleEncoding encoding =
            reading == "markdown-gbk" ? ArticleEncoding::Gbk : ArticleEncoding::Utf8;
        std::string line;
        for (const FoundSource& f : ScanSources(document, options, encoding, true)) {
            if (!line.empty()) line += ' ';
            for (const char c : f.Fetched()) {
                line += kHex[static_cast<unsigned char>(c) >> 4];
                line += kHex[static_cast<unsigned char>(c) & 0x0F];
            }
            if (f.Fetched().empty()) line += '-';
        }
        std::cout << line << '\n' << std::flush;
    }
    return 0;
}
