#include "job/settings_table.h"

#include <utility>

#include "config/config_store.h"
#include "job/option_table.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using namespace text::literals;

template <std::string JobSettings::*Field>
SettingItem Basic(const char* utf8Key) {
    return {SettingsSection(), text::GbkFromUtf8(utf8Key), true,
            [](const SettingValues& v) { return v.settings.*Field; },
            [](SettingValues& v, const std::string& text) { v.settings.*Field = text; }};
}

// An option's item, its form and range decided by its entry of the option table.
SettingItem Option(const OptionDescriptor& d) {
    return {ExtensionSection(), d.Key(), false,
            [&d](const SettingValues& v) { return d.Text(v.options); },
            [&d](SettingValues& v, const std::string& text) { d.Set(v.options, text); }};
}

// One slot of the per-site rules. A slot read empty (or not of a rule's form) leaves a hole, which
// matches no host; holes at the end are dropped.
SettingItem RuleSlot(std::size_t index) {
    return {HotlinkSection(), SiteRuleKey(index), false,
            [index](const SettingValues& v) {
                const auto& rules = v.options.siteRules;
                return index < rules.size() && !rules[index].hostPattern.empty()
                           ? web::SiteRuleText(rules[index])
                           : std::string();
            },
            [index](SettingValues& v, const std::string& text) {
                auto& rules = v.options.siteRules;
                if (rules.size() <= index) rules.resize(index + 1);
                rules[index] = web::ParseSiteRule(text).value_or(web::SiteRule{});
                while (!rules.empty() && rules.back().hostPattern.empty()) rules.pop_back();
            }};
}

// One slot of the publish targets; as with the rules, a slot read empty leaves a hole, and holes
// at the end are dropped.
SettingItem TargetSlot(std::size_t index) {
    return {PublishSection(), PublishTargetKey(index), false,
            [index](const SettingValues& v) {
                const auto& targets = v.options.publishTargets;
                return index < targets.size() ? targets[index] : std::string();
            },
            [index](SettingValues& v, const std::string& text) {
                auto& targets = v.options.publishTargets;
                if (targets.size() <= index) targets.resize(index + 1);
                targets[index] = text::Trim(text);
                while (!targets.empty() && targets.back().empty()) targets.pop_back();
            }};
}

}  // namespace

const std::string& SettingsSection() {
    static const std::string section = "基本配置"_gbk;
    return section;
}

const std::vector<SettingItem>& SettingItems() {
    static const std::vector<SettingItem> items = [] {
        std::vector<SettingItem> all = {
            Basic<&JobSettings::articleFolder>("文章目录"),
            Basic<&JobSettings::articleFilter>("文章过滤"),
            Basic<&JobSettings::imageFolder>("图片存放目录"),
            Basic<&JobSettings::oldPrefix>("旧的域名前缀"),
            Basic<&JobSettings::newPrefix>("新的域名前缀"),
            Basic<&JobSettings::excludedRanges>("排除地址范围"),
        };
        for (const OptionDescriptor& d : OptionTable()) all.push_back(Option(d));
        for (std::size_t i = 0; i < kMaxSiteRules; ++i) all.push_back(RuleSlot(i));
        all.push_back(
            {HotlinkSection(), PlaceholdersKey(), false,
             [](const SettingValues& v) { return PlaceholdersText(v.options.placeholders); },
             [](SettingValues& v, const std::string& text) {
                 v.options.placeholders = PlaceholdersFromText(text);
             }});
        for (std::size_t i = 0; i < kMaxPublishTargets; ++i) all.push_back(TargetSlot(i));
        return all;
    }();
    return items;
}

SettingValues DefaultSettingValues(const std::string& home) {
    SettingValues values;
    values.settings.articleFolder = home + "/文章目录"_gbk;
    values.settings.articleFilter = "*.htm";
    values.settings.imageFolder = "files/img";
    return values;
}

void ReadSettingValues(config::ConfigStore& store, SettingValues& values,
                       const std::function<void(const SettingItem&)>& afterEach) {
    const std::string* section = nullptr;
    for (const SettingItem& item : SettingItems()) {
        if (!section || *section != item.section) store.SetSection(*(section = &item.section));
        item.set(values, store.ReadText(item.key, item.get(values)));
        if (afterEach) afterEach(item);
    }
}

bool WriteSettingValues(config::ConfigStore& store, const SettingValues& values) {
    const SettingValues defaults;
    const std::string absent = "\x01";  // no stored text is this
    bool stored = true;
    const std::string* section = nullptr;
    for (const SettingItem& item : SettingItems()) {
        if (!section || *section != item.section) store.SetSection(*(section = &item.section));
        const std::string text = item.get(values);
        if (item.alwaysWritten) {
            // A save made while the store is busy (from one of its event points) is queued and
            // runs right after the current one: queued is not failed.
            stored = store.WriteText(item.key, text) != config::WriteResult::kFailed && stored;
            continue;
        }
        // An option's key appears once it was set, and stays so that turning it off is saved.
        if (text == item.get(defaults) && store.ReadText(item.key, absent) == absent) continue;
        stored = stored && store.WriteText(item.key, text) != config::WriteResult::kFailed;
    }
    return stored && store.WritesReachDisk();
}

}  // namespace zembrat::job
