// The option table: each entry's texts round-trip, bad texts give defaults, and the run record's
// inputs hash follows each entry's role.
#include "job/option_table.h"

#include <gtest/gtest.h>

#include <set>

#include "support/option_samples.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using namespace text::literals;
using testing::NonDefaultText;

const std::string& Key(OptionDescriptor::Field field) {
    return Descriptor(field).Key();
}

TEST(OptionTable, KeyTextsRoundTripAndBadValuesGiveDefaults) {
    using O = ExtensionOptions;
    EXPECT_EQ(ExtensionSection(), "扩展选项"_gbk);
    EXPECT_TRUE(ChangedExtensionOptionTexts({}).empty());
    EXPECT_EQ(ExtensionOptionTexts({}).size(), OptionTable().size());

    ExtensionOptions o;
    o.https = o.markdown = o.writeReport = o.recursive = o.incremental = true;
    o.timeoutSeconds = 30;
    o.downloadsAtOnce = 16;
    o.outputFolder = "/站点/公开"_gbk;
    const OptionTexts changed = ChangedExtensionOptionTexts(o);
    EXPECT_EQ(changed, (OptionTexts{{"转存https图片"_gbk, "1"},
                                    {"处理Markdown图片"_gbk, "1"},
                                    {"下载超时"_gbk, "30"},
                                    {"同时下载数"_gbk, "16"},
                                    {"运行后写出报告"_gbk, "1"},
                                    {"包含子目录"_gbk, "1"},
                                    {"结果目录"_gbk, "/站点/公开"_gbk},
                                    {"增量运行"_gbk, "1"}}));
    EXPECT_EQ(ExtensionOptionsFromTexts(changed), o);
    EXPECT_EQ(ExtensionOptionsFromTexts(ExtensionOptionTexts(o)), o);

    const ExtensionOptions bad = ExtensionOptionsFromTexts({{Key(&O::https), "yes"},
                                                            {Key(&O::lazyImages), "1"},
                                                            {Key(&O::htmlRules), ""},
                                                            {Key(&O::checkContent), "2"},
                                                            {Key(&O::timeoutSeconds), "-5"},
                                                            {Key(&O::downloadsAtOnce), "17"},
                                                            {"unknown"_gbk, "1"},
                                                            {Key(&O::markdown), "1"},
                                                            {Key(&O::markdown), "0"}});
    ExtensionOptions expected;
    expected.lazyImages = true;
    EXPECT_EQ(bad, expected);
    EXPECT_EQ(ExtensionOptionsFromTexts(
                  {{Key(&O::downloadsAtOnce), "0"}, {Key(&O::timeoutSeconds), "3601"}}),
              ExtensionOptions{});
    EXPECT_EQ(
        ExtensionOptionsFromTexts({{Key(&O::downloadsAtOnce), "4"}, {Key(&O::timeoutSeconds), "0"}})
            .downloadsAtOnce,
        4);
}

// Every entry, whatever it is: one key and one switch of its own, found by its field and its key,
// its other value kept and told apart from its default, a text not of its form refused, and the
// inputs hash moved exactly when the entry says the option shapes an article's result.
TEST(OptionTable, EveryEntryWorksThroughEveryFunctionOfTheTable) {
    std::set<std::string> keys, switches;
    const ExtensionOptions defaults;
    for (const OptionDescriptor& d : OptionTable()) {
        SCOPED_TRACE(d.key);
        EXPECT_TRUE(keys.insert(d.Key()).second);
        if (d.HasSwitch()) {
            EXPECT_TRUE(switches.insert(d.switchName).second);
        }
        EXPECT_EQ(&Descriptor(d.field), &d);
        EXPECT_EQ(DescriptorOfKey(d.Key()), &d);
        EXPECT_EQ(d.Key(), text::GbkFromUtf8(d.key));
        EXPECT_TRUE(d.Accepts(d.Text(defaults)));

        const std::string other = NonDefaultText(d);
        ASSERT_NE(other, d.Text(defaults));
        ASSERT_TRUE(d.Accepts(other));
        ExtensionOptions set;
        d.Set(set, other);
        EXPECT_EQ(d.Text(set), other);
        EXPECT_FALSE(d.IsDefault(set));
        EXPECT_EQ(ChangedExtensionOptionTexts(set), (OptionTexts{{d.Key(), other}}));
        EXPECT_EQ(ExtensionOptionsFromTexts({{d.Key(), other}}), set);

        const bool shapes = d.hash != HashRole::DoesNotShape;
        EXPECT_EQ(OptionsHashText(set) != OptionsHashText(defaults), shapes);

        if (d.kind != OptionKind::Text && d.kind != OptionKind::Folder) {
            EXPECT_FALSE(d.Accepts("x1"));
            ExtensionOptions refused = set;
            d.Set(refused, "x1");
            EXPECT_TRUE(d.IsDefault(refused));
        }
        if (d.kind == OptionKind::Number) {
            EXPECT_FALSE(d.Accepts(std::to_string(d.high + 1)));
            EXPECT_EQ(d.Accepts(std::to_string(d.low - 1)), d.off == d.low - 1);
        }
        if (d.place != DialogPlace::None) {
            EXPECT_NE(*d.caption, '\0');
            EXPECT_NE(*d.explanation, '\0');
        }
        if (d.HasSwitch()) {
            EXPECT_TRUE(std::string(d.switchName).starts_with("--"));
            EXPECT_NE(*d.help, '\0');
            EXPECT_NE(*d.manual, '\0');
        }
    }
}

// The records kept so far hashed these texts; the options at their defaults hash the same, so an
// incremental run after an upgrade redoes no article.
TEST(OptionTable, TheHashOfTheDefaultsIsTheOneRecordsHold) {
    const std::string kept =
        "转存https图片=0\n识别延迟加载和响应式图片=0\n按网页规则读取标签=0\n检查图片内容=0\n"
        "处理Markdown图片=0\n下载超时=0\n同时下载数=1\n运行后写出报告=0\n防盗链处理=0\n"
        "包含子目录=0\n结果目录=\n增量运行=0\n运行后发布=0\n同时发布文章=0\n使用的发布目标=\n"_gbk;
    EXPECT_EQ(OptionsHashText({}), kept);
    ExtensionOptions notShaping;
    notShaping.downloadsAtOnce = 8;
    notShaping.incremental = notShaping.writeReport = notShaping.publishAfterRun = true;
    notShaping.publishTarget = "site";
    EXPECT_EQ(OptionsHashText(notShaping), kept);
}

}  // namespace
}  // namespace zembrat::job
