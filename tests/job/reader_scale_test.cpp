// The readers on articles of 1 MB and 10 MB built from one shape repeated: each must take time
// linear in the article, which the bound tells from a quadratic walk by orders of magnitude.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "job/ref_scanner.h"
#include "support/event_counter.h"
#include "support/sanitized.h"

namespace zembrat::job {
namespace {

// Under the sanitizers every byte costs several times as much: the shapes are read at 1 MB only,
// where a quadratic reading still takes minutes, with a bound that holds for the slower build.
using testing::kSanitized;

std::string Repeated(std::string_view shape, std::size_t size) {
    std::string out;
    out.reserve(size + shape.size());
    while (out.size() < size) out += shape;
    return out;
}

std::vector<ExtensionOptions> EveryReading() {
    std::vector<ExtensionOptions> all;
    for (int bits = 0; bits < 8; ++bits) {
        ExtensionOptions o;
        o.lazyImages = bits & 1;
        o.htmlRules = bits & 2;
        o.markdown = bits & 4;
        all.push_back(o);
    }
    return all;
}

TEST(ReaderScale, EveryShapeIsReadInTimeLinearInTheArticle) {
    const std::string_view shapes[] = {"![a](",
                                       "![",
                                       "[",
                                       "![a](x (",
                                       "![a](x \"t\"",
                                       "![a](<",
                                       "![a][",
                                       "![a](((",
                                       "\\![",
                                       "[a]: http://a.com/x.png\n![b][a] ",
                                       "[a]: <http://a.com/x.png\n",
                                       "<img ",
                                       "<img src=\"x",
                                       "<img src='http://a.com/1.jpg' ",
                                       "<img srcset=\"a 1x, ",
                                       "<img data-src=",
                                       "<picture><source srcset=\"http://a.com/s.webp\">",
                                       "<img s d s ",
                                       "<img a=b c ",
                                       "<img src=http://a.com/1.jpg>",
                                       "<img alt=x \xB0src=",
                                       "<source srcset=",
                                       "<IMG\n",
                                       "<img src=\"http://a.com/1.jpg\" srcset=\"b 2x\n",
                                       "\xB0\xA1src=<img ",
                                       "<img alt=\"",
                                       "<img srcset='x>",
                                       "<img data-src=x src=\"data:",
                                       "<img data-src=\"http://a.com/1.jpg\" ",
                                       "<a href=x.jpg>",
                                       "<a href=x.jpg><img ",
                                       "<p style=\"background:url(",
                                       "<p style='url(&quot;",
                                       "<style>url(\"",
                                       "<meta property=og:image content=",
                                       "<a title=\"",
                                       "`",
                                       "``a`",
                                       "```\n",
                                       "~~~\n![a](b)\n",
                                       "---\ncover: x\n",
                                       "{{< figure src=\"",
                                       "{{< figure src=x ",
                                       "{% img ",
                                       "{% img /a.png ",
                                       "> ",
                                       "- ",
                                       "> - 1. ",
                                       "\n    ![a](b)\n",
                                       "[[[[]",
                                       "![[a]",
                                       "[a](b (",
                                       "`` ` ```",
                                       "<a b=\"",
                                       "<!-- -",
                                       "<?",
                                       "<![CDATA[",
                                       "<!X",
                                       "<script><!--<script>",
                                       "<svg><math>",
                                       "<template>",
                                       "<textarea></textare",
                                       "&#x&amp&notit",
                                       "[a]: <b> \"\n"};
    for (const std::string_view shape : shapes) {
        for (const std::size_t size : {std::size_t{1} << 20, std::size_t{10} << 20}) {
            if (kSanitized && size > (1u << 20)) continue;
            const std::string article = Repeated(shape, size);
            for (const ExtensionOptions& o : EveryReading()) {
                SCOPED_TRACE(::testing::Message()
                             << shape << " " << size << " lazy " << o.lazyImages << " html "
                             << o.htmlRules << " md " << o.markdown);
                const auto start = std::chrono::steady_clock::now();
                const std::vector<FoundSource> found =
                    ScanSources(article, o, ArticleEncoding::Gbk, true);
                const double took = zembrat::testing::SecondsSince(start);
                EXPECT_LT(took, kSanitized ? 8.0 : size > (1u << 20) ? 6.0 : 1.0);
                EXPECT_TRUE(std::is_sorted(found.begin(), found.end(),
                                           [](const FoundSource& a, const FoundSource& b) {
                                               return a.offset < b.offset;
                                           }));
            }
        }
    }
}

TEST(ReaderPace, LongReadingsLetTheWindowLiveAndTakeAStop) {
    const std::string last = "<img src=\"http://a.com/last.jpg\">![l](http://a.com/last.png)";
    const std::string article = Repeated("<img alt=x>text ![b]\n", std::size_t{4} << 20) + last;
    for (const ExtensionOptions& o : EveryReading()) {
        SCOPED_TRACE(::testing::Message() << o.lazyImages << o.htmlRules << o.markdown);
        zembrat::testing::EventCounter events;
        const std::vector<FoundSource> whole =
            ScanSources(article, o, ArticleEncoding::Gbk, true, &events);
        EXPECT_GE(events.processed, 63);
        ASSERT_FALSE(whole.empty());
        EXPECT_EQ(whole.front().text, "http://a.com/last.jpg");

        std::stop_source stop;
        zembrat::testing::EventCounter stopping;
        stopping.SetStopToken(stop.get_token());
        stopping.onProcess = [&stop](int) { stop.request_stop(); };
        EXPECT_TRUE(ScanSources(article, o, ArticleEncoding::Gbk, true, &stopping).empty());
        EXPECT_LE(stopping.processed, 2);
    }
}

}  // namespace
}  // namespace zembrat::job
