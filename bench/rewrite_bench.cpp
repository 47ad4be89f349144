// Rewriting one article with many references, at 4,000 and at 16,000 of them: the plain rules
// (each stored source replaced wherever it stands) and the readers' options (each replaced where
// it was found). Each size is read and decided as a run does it, then rewritten; the rewrite is
// timed (the thread's CPU time, best of the rounds) and its cost at 16,000 printed against its cost
// at 4,000, measured in the same run (linear: 4 times; aim: at most 4.5), with a copy of the
// article's bytes as the floor. The machine's core count is printed beside the figures.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "job/article_images.h"
#include "job/image_names.h"
#include "job/references.h"
#include "platform/event_points.h"

namespace {

using namespace zembrat;

// The CPU time of this thread: other programs on the machine do not count.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// An article of that many references, each to an image of its own, every tenth also named in
// a code block and in a comment (which the readers' options leave as they are).
std::string Article(int references) {
    std::string article = "<html><body>\n";
    for (int k = 0; k < references; ++k) {
        const std::string address = "http://img" + std::to_string(k % 7) + ".example/photos/" +
                                    std::to_string(k * 7919) + "/p" + std::to_string(k) + ".jpg";
        article += "<p>Paragraph " + std::to_string(k) + " of the trip.</p><img src=\"" + address +
                   "\" alt=\"photo\">\n";
        if (k % 10 == 0)
            article += "<pre><code>&lt;img src=\"" + address + "\"&gt;</code></pre><!-- " +
                       address + " -->\n";
    }
    return article + "</body></html>\n";
}

struct Figure {
    double seconds = 0;
    bool same = true;    // the plain rules: as the replacements one after the other give it
    double slowest = 0;  // the slowest round, beside the best
};

// The best (and the slowest) of the rounds of rewriting the article under those options.
Figure Rewrite(int references, const job::ExtensionOptions& options, int rounds) {
    const std::string article = Article(references);
    job::ReferenceDecider decider({"", "", options});
    const std::vector<job::RefVerdict> verdicts =
        decider.Decide(article, false, platform::NoEventPoints());
    std::vector<std::string> addresses;
    for (const job::RefVerdict& v : verdicts) {
        if (v.decision == job::RefDecision::Download)
            addresses.push_back(job::NewAddress(
                job::ImageRelPath("images", job::ContentName(v.address), "jpg"), "my.site"));
    }
    const std::vector<std::string_view> stored(addresses.begin(), addresses.end());
    const std::vector<job::ImageRef> refs = job::KeptReferences(verdicts);
    Figure best{1e9, true};
    std::string scratch, text;
    for (int round = 0; round < rounds; ++round) {
        text = article;
        const double start = CpuSeconds();
        job::RewriteStoredSources(text, refs, stored, verdicts, job::RewritesWhereFound(options),
                                  scratch);
        const double seconds = CpuSeconds() - start;
        best.seconds = std::min(best.seconds, seconds);
        best.slowest = std::max(best.slowest, seconds);
    }
    if (!job::RewritesWhereFound(options) && references <= 4000) {
        std::string expected = article;
        std::size_t row = 0;
        for (const job::RefVerdict& v : verdicts) {
            if (v.decision == job::RefDecision::Download)
                expected = text::ReplaceAll(expected, v.sourceValue, addresses[row++]);
        }
        best.same = expected == text;
    }
    return best;
}

double CopySeconds(int references, int rounds) {
    const std::string article = Article(references);
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const double start = CpuSeconds();
        std::string copy = article;
        const double seconds = CpuSeconds() - start;
        best = std::min(best, seconds + (copy.empty() ? 1 : 0));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    job::ExtensionOptions html;
    html.htmlRules = true;
    job::ExtensionOptions lazy;
    lazy.lazyImages = true;
    std::printf("cores: %u, best of %d rounds\n", std::thread::hardware_concurrency(), rounds);
    std::printf("%-12s %12s %12s %8s %14s %22s\n", "rules", "4,000 (ms)", "16,000 (ms)", "ratio",
                "vs a copy", "slowest 4,000/16,000");
    bool within = true;
    for (const auto& [name, options] : {std::pair{"plain", job::ExtensionOptions{}},
                                        std::pair{"html rules", html}, std::pair{"lazy", lazy}}) {
        const Figure small = Rewrite(4000, options, rounds);
        const Figure large = Rewrite(16000, options, rounds);
        const double ratio = large.seconds / small.seconds;
        within = within && ratio <= 4.5 && small.same;
        if (!small.same)
            std::printf("%s: not what the replacements one after the other give\n", name);
        std::printf("%-12s %12.2f %12.2f %8.2f %13.1fx %10.2f/%.2f ms\n", name, small.seconds * 1e3,
                    large.seconds * 1e3, ratio, large.seconds / CopySeconds(16000, rounds),
                    small.slowest * 1e3, large.slowest * 1e3);
    }
    // The floor: what the same growth costs a plain copy of the article's bytes.
    std::printf("a copy of the article: 16,000 against 4,000 %.2f times\n",
                CopySeconds(16000, rounds) / CopySeconds(4000, rounds));
    std::printf("16,000 against 4,000 %s 4.5 times\n", within ? "within" : "beyond");
    return within ? 0 : 1;
}
