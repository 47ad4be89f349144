// The article's page address, and the hotlink settings as the settings file holds them.
#include "job/page_address.h"

#include <gtest/gtest.h>

#include "job/extension_options.h"
#include "job/option_table.h"
#include "job/settings_table.h"
#include "text/crc32.h"

namespace zembrat::job {
namespace {

TEST(PageAddress, CanonicalFirstThenOgUrlAbsoluteOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"<head><LINK href='http://a.com/1' REL=\"Canonical\"></head>", "http://a.com/1"},
        {"<meta property=og:url content=https://b.com/2><link rel=canonical href=http://a.com/1>",
         "http://a.com/1"},
        {"<meta content=\" https://b.com/2 \" property=\"og:url\"/>", "https://b.com/2"},
        {"<link rel=\"canonical\" href=\"/relative\"><meta property=og:url content=x>", ""},
        {"<link rel=\"alternate canonical\" href=http://c.com/>", "http://c.com/"},
        {"<linked rel=canonical href=http://d.com/>", ""},
        {"<link rel=stylesheet href=http://e.com/s.css>", ""},
        {"<link rel=canonical href=\"http://unterminated", "http://unterminated"},
    };
    for (const auto& [article, page] : cases)
        EXPECT_EQ(ArticlePageAddress(article), page) << article;
}

TEST(PageAddress, PlaceholderMarksAndRulesRoundTripThroughTheTable) {
    const PlaceholderMark mark{text::Crc32("GIF89a"), 6};
    EXPECT_EQ(ParsePlaceholder(PlaceholderText(mark)), mark);
    EXPECT_EQ(PlaceholderText({0xAB, 173}), "000000ab:173");
    EXPECT_EQ(PlaceholdersFromText("000000AB:173, bad,12:x,:1,1:2"),
              (std::vector<PlaceholderMark>{{0xAB, 173}, {1, 2}}));

    SettingValues values;
    values.options.siteRules = {{"a.com", "http://r/", "", "c=1"}, {"b.com", "", "UA", ""}};
    values.options.placeholders = {mark};
    SettingValues read;
    for (const SettingItem& item : SettingItems()) item.set(read, item.get(values));
    EXPECT_EQ(read, values);
    // An option read after the rules keeps them.
    for (const SettingItem& item : SettingItems()) {
        if (item.key == Descriptor(&ExtensionOptions::hotlink).Key()) item.set(read, "1");
    }
    EXPECT_TRUE(read.options.hotlink);
    EXPECT_EQ(read.options.siteRules, values.options.siteRules);
}

}  // namespace
}  // namespace zembrat::job
