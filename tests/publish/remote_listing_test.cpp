// What the servers' listings say, read as entries: long listing lines of SFTP and FTP servers,
// and the XML texts of WebDAV and S3.
#include "publish/remote_listing.h"

#include <gtest/gtest.h>

#include "publish/part_sweep.h"
#include "publish/protocol_transports.h"

namespace zembrat::publish {
namespace {

struct ListingLine {
    const char* line;
    std::optional<RemoteEntry> entry;  // name, folder, size
};

TEST(RemoteListing, LongListingLinesAreReadAsServersWriteThem) {
    const ListingLine lines[] = {
        {"-rw-r--r--    1 ftp      ftp          1234 Dec 10 14:30 a.png",
         RemoteEntry{"a.png", false, 1234, std::nullopt}},
        {"-rw-r--r--    1 0        0               5 Dec 10  2025 two  spaces.png\r",
         RemoteEntry{"two  spaces.png", false, 5, std::nullopt}},
        {"drwxr-xr-x    2 root     root         4096 Jan  1 00:00 .zembrat-trash",
         RemoteEntry{".zembrat-trash", true, std::nullopt, std::nullopt}},
        {"-rw-------    1 1000     1000            0 Dec 10 14:30 图 片.png",
         RemoteEntry{"图 片.png", false, 0, std::nullopt}},
        {"lrwxrwxrwx    1 root     root            4 Dec 10 14:30 link -> a.png", std::nullopt},
        {"total 8", std::nullopt},
        {"drwxr-xr-x    2 root     root         4096 Dec 10 14:30 ..", std::nullopt},
        {"-rw-r--r-- 1 short", std::nullopt},
        {"", std::nullopt},
    };
    for (const ListingLine& expected : lines) {
        const std::optional<RemoteEntry> entry = LongListingEntry(expected.line);
        ASSERT_EQ(entry.has_value(), expected.entry.has_value()) << expected.line;
        if (!entry) continue;
        EXPECT_EQ(entry->name, expected.entry->name) << expected.line;
        EXPECT_EQ(entry->folder, expected.entry->folder) << expected.line;
        EXPECT_EQ(entry->size, expected.entry->size) << expected.line;
    }
    EXPECT_EQ(LongListing("total 1\n-rw-r--r-- 1 a b 3 Dec 1 10:00 x\ndrwx------ 2 a b 0 Dec 1 "
                          "10:00 y\n")
                  .size(),
              2u);
}

TEST(RemoteListing, XmlTextsDatesAndPartNamesAreReadExactly) {
    EXPECT_EQ(XmlText("a&amp;b &lt;c&gt; &quot;&apos; &#13;&#x9; 图片 &#22270; &bogus; &"),
              "a&b <c> \"' \r\t 图片 &#22270; &bogus; &");
    const auto items =
        XmlElements("<D:r><D:href>/a</D:href><D:collection/></D:r><r><href>b</href></r>", "href");
    EXPECT_EQ(items, (std::vector<std::string_view>{"/a", "b"}));
    EXPECT_EQ(XmlElements("<x><D:collection/></x>", "collection").size(), 1u);
    EXPECT_EQ(HttpDate("Thu, 10 Dec 2026 14:30:00 GMT"), IsoDate("2026-12-10T14:30:00.000Z"));
    EXPECT_EQ(IsoDate("2026-12-10T14:30:00.000Z").value().time_since_epoch(),
              std::chrono::seconds(1796913000));
    EXPECT_EQ(HttpDate("yesterday"), std::nullopt);

    EXPECT_TRUE(IsPartName(PartName("a.png")));
    EXPECT_TRUE(IsPartName(PartName(std::string(250, 'x'))));
    for (const std::string name :
         {"a.png", ".zembrat-part", ".0123456789abcdeg.zembrat-part",
          ".0123456789abcdef0.zembrat-part", "0123456789abcdef0.zembrat-part"})
        EXPECT_FALSE(IsPartName(name)) << name;
    EXPECT_EQ(FolderLevels("a/b/c/"), (std::vector<std::string>{"a/", "a/b/", "a/b/c/"}));
    EXPECT_EQ(FolderOf("a/b/c.png"), "a/b/");
    EXPECT_EQ(NameOf("a/b/c.png"), "c.png");
}

}  // namespace
}  // namespace zembrat::publish
