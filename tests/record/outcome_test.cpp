#include "record/outcome.h"

#include <gtest/gtest.h>

#include <string>

namespace zembrat::record {
namespace {

TEST(RecordWords, EachWordReadsBackAsItsValueAndNoOtherWordDoes) {
    for (const Outcome outcome :
         {Outcome::Stored, Outcome::Reused, Outcome::Failed, Outcome::NotReached})
        EXPECT_EQ(OutcomeFromText(OutcomeText(outcome)), outcome) << OutcomeText(outcome);
    for (const ArticleEnd end : {ArticleEnd::Written, ArticleEnd::Unreadable,
                                 ArticleEnd::NotWritten, ArticleEnd::CutShort, ArticleEnd::Skipped})
        EXPECT_EQ(ArticleEndFromText(ArticleEndText(end)), end) << ArticleEndText(end);
    EXPECT_EQ(std::string(OutcomeText(Outcome::NotReached)), "not reached");
    EXPECT_EQ(std::string(ArticleEndText(ArticleEnd::CutShort)), "cut short");
    for (const char* other : {"dropped", "", "Stored", "stored ", "cut short (x)"}) {
        EXPECT_FALSE(OutcomeFromText(other)) << other;
        EXPECT_FALSE(ArticleEndFromText(other)) << other;
    }
}

TEST(RecordWords, ARetryTakesUpWhatFailedWasNotReachedOrWasCutShort) {
    struct Case {
        ArticleEnd end;
        Outcome outcome;
        bool again;
    };
    const Case cases[] = {
        {ArticleEnd::Written, Outcome::Stored, false},
        {ArticleEnd::Written, Outcome::Reused, false},
        {ArticleEnd::Written, Outcome::Failed, true},
        {ArticleEnd::NotWritten, Outcome::NotReached, true},
        {ArticleEnd::NotWritten, Outcome::Stored, false},
        {ArticleEnd::Skipped, Outcome::Reused, false},
        {ArticleEnd::CutShort, Outcome::Stored, true},  // the article was not written
        {ArticleEnd::CutShort, Outcome::Reused, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NeedsRetry(c.end, c.outcome), c.again)
            << ArticleEndText(c.end) << " " << OutcomeText(c.outcome);
}

}  // namespace
}  // namespace zembrat::record
