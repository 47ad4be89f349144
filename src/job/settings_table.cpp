#include "job/settings_table.h"

#include <utility>

#include "config/config_store.h"
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

// The option's text from the options' own table, and back through it, so its form and range
// are decided there alone.
template <std::size_t Index>
SettingItem Option() {
    return {ExtensionSection(), ExtensionOptionTexts(ExtensionOptions{}).at(Index).first, false,
            [](const SettingValues& v) { return ExtensionOptionTexts(v.options)[Index].second; },
            [](SettingValues& v, const std::string& text) {
                OptionTexts texts = ExtensionOptionTexts(v.options);
                texts[Index].second = text;
                ExtensionOptions read = ExtensionOptionsFromTexts(texts);
                read.siteRules = std::move(v.options.siteRules);  // their own section's
                read.placeholders = std::move(v.options.placeholders);
                read.publishTargets = std::move(v.options.publishTargets);
                v.options = std::move(read);
            }};
}

template <std::size_t... Index>
void AddOptions(std::vector<SettingItem>& items, std::index_sequence<Index...>) {
    (items.push_back(Option<Index>()), ...);
}

// One slot of the per-site rules. A slot read empty (or not of a rule's form) leaves a hole, which
// matches no host; holes at the end are dropped.
template <std::size_t Index>
SettingItem RuleSlot() {
    return {HotlinkSection(), SiteRuleKey(Index), false,
            [](const SettingValues& v) {
                const auto& rules = v.options.siteRules;
                return Index < rules.size() && !rules[Index].hostPattern.empty()
                           ? web::SiteRuleText(rules[Index])
                           : std::string();
            },
            [](SettingValues& v, const std::string& text) {
                auto& rules = v.options.siteRules;
                if (rules.size() <= Index) rules.resize(Index + 1);
                rules[Index] = web::ParseSiteRule(text).value_or(web::SiteRule{});
                while (!rules.empty() && rules.back().hostPattern.empty()) rules.pop_back();
            }};
}

template <std::size_t... Index>
void AddRuleSlots(std::vector<SettingItem>& items, std::index_sequence<Index...>) {
    (items.push_back(RuleSlot<Index>()), ...);
}

// One slot of the publish targets; as with the rules, a slot read empty leaves a hole, and holes
// at the end are dropped.
template <std::size_t Index>
SettingItem TargetSlot() {
    return {PublishSection(), PublishTargetKey(Index), false,
            [](const SettingValues& v) {
                const auto& targets = v.options.publishTargets;
                return Index < targets.size() ? targets[Index] : std::string();
            },
            [](SettingValues& v, const std::string& text) {
                auto& targets = v.options.publishTargets;
                if (targets.size() <= Index) targets.resize(Index + 1);
                targets[Index] = text::Trim(text);
                while (!targets.empty() && targets.back().empty()) targets.pop_back();
            }};
}

template <std::size_t... Index>
void AddTargetSlots(std::vector<SettingItem>& items, std::index_sequence<Index...>) {
    (items.push_back(TargetSlot<Index>()), ...);
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
        AddOptions(all, std::make_index_sequence<kExtensionOptionCount>());
        AddRuleSlots(all, std::make_index_sequence<kMaxSiteRules>());
        all.push_back(
            {HotlinkSection(), PlaceholdersKey(), false,
             [](const SettingValues& v) { return PlaceholdersText(v.options.placeholders); },
             [](SettingValues& v, const std::string& text) {
                 v.options.placeholders = PlaceholdersFromText(text);
             }});
        AddTargetSlots(all, std::make_index_sequence<kMaxPublishTargets>());
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
