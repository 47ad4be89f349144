// The one table of the extension options: each entry says everything the program needs to know of
// one option (its field, settings key, kind and bounds, command-line switch, help and manual text,
// the dialog's control and explanation, and whether it shapes an article's result). The settings
// file, the command line, --help, the manual page, the options dialog and the run record's inputs
// hash are all built from it, so a new option is one entry here (and its field).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "job/extension_options.h"

namespace zembrat::job {

enum class OptionKind {
    Flag,    // "1"/"0"; a check box; --x and --no-x
    Number,  // decimal within [low, high], or off; --x N (and --no-x when it has an off value)
    Text,    // as given; --x VALUE, --no-x empties it
    Folder,  // as Text, and the dialog offers a folder chooser
    Choice,  // one of choices (the one whose value is empty is off); --x VALUE, --no-x empties it
};

// Where the options dialog shows the option: its left column (what is read), its right column
// (how it is fetched and told), or not at all (the publish dialog edits it, or nothing does).
enum class DialogPlace { None, Left, Right };

// Which group of --help and the manual lists the option's switch.
enum class SwitchGroup { Extensions, Publish };

// What the option does to the run record's inputs hash, the text that says whether an article's
// result would come out the same.
enum class HashRole {
    Shapes,         // it shapes what is written: its value is hashed
    DoesNotShape,   // it does not: hashed at its default, as records have always held it
    ShapesWhenSet,  // it shapes what is written, and is hashed only once set away from its
                    // default, so adding it redid no article of the records kept before it
};

struct OptionChoice {
    const char* value;    // the stored text and the switch's value, ASCII ("" is off)
    const char* caption;  // the dialog's text for it, UTF-8
};

struct OptionDescriptor {
    using Field = std::variant<bool ExtensionOptions::*, int ExtensionOptions::*,
                               std::string ExtensionOptions::*>;

    Field field;
    const char* key;  // the settings key in section "扩展选项", UTF-8 here (GBK in the file)
    OptionKind kind;
    int low = 0, high = 0;        // Number: the values one may set
    std::optional<int> off = {};  // Number: the value that means "none" (also accepted stored)
    std::vector<OptionChoice> choices = {};  // Choice: every value, the off one ("") among them

    // The command line; no switch when switchName is empty.
    const char* switchName = "";  // "--https"
    const char* valueName = "";   // "SECONDS"
    const char* unit = "";        // Number: what it counts, in its error
    SwitchGroup group = SwitchGroup::Extensions;
    // The --help text (lines after the first are indented below it) and the manual's paragraph,
    // where `text` is bold and _text_ italic. In both, {low} and {high} stand for a number's
    // bounds, {per-site} for the downloads at once from one site.
    const char* help = "";
    const char* manual = "";

    // The options dialog: the control's name is the kind's prefix and this name (复选框...,
    // 编辑框..., 微调框..., 组合框...; its label 标签...), the explanation's 标签说明 and
    // explanationName (this name when empty). Texts UTF-8.
    DialogPlace place = DialogPlace::None;
    const char* controlName = "";
    const char* explanationName = "";
    const char* caption = "";  // a check box's text, or the label before the box
    const char* explanation = "";

    HashRole hash = HashRole::Shapes;

    std::string gbkKey = {};  // the key in GBK, filled in by the table

    // The GBK settings key.
    const std::string& Key() const { return gbkKey; }
    // The value's text as the settings file holds it.
    std::string Text(const ExtensionOptions& options) const;
    // Takes a stored text; one not of the option's form or outside its range leaves the option
    // at its default.
    void Set(ExtensionOptions& options, std::string_view text) const;
    // Whether the text is one Set takes (the command line and the dialog check it first).
    bool Accepts(std::string_view text) const;
    bool IsDefault(const ExtensionOptions& options) const;
    bool HasSwitch() const { return *switchName != '\0'; }
    // Whether the switch has a --no- form: flags, texts and choices, and numbers with an off value.
    bool HasNoForm() const;
};

// Every option, in the order the settings file holds them and the dialog shows them.
std::span<const OptionDescriptor> OptionTable();

// The entry of the field; every field of the options that a user sets has one.
const OptionDescriptor& Descriptor(OptionDescriptor::Field field);

// The entry of a GBK settings key, or null.
const OptionDescriptor* DescriptorOfKey(std::string_view key);

// Every option as key and text, in the table's order.
OptionTexts ExtensionOptionTexts(const ExtensionOptions& options);

// Only the pairs whose value differs from the default's: what a settings file needs to hold,
// so that a file in which no option was changed gets no section at all.
OptionTexts ChangedExtensionOptionTexts(const ExtensionOptions& options);

// Sets the options the pairs name, as the settings file holds them; keys not among the options
// are ignored, a value not of its option's form leaves that option at its default, and when a
// key comes twice the last one counts.
void ApplyOptionTexts(const OptionTexts& texts, ExtensionOptions& options);

// The options the pairs give, every other one at its default.
ExtensionOptions ExtensionOptionsFromTexts(const OptionTexts& texts);

// The text the run record hashes for the options: what shapes an article's result.
std::string OptionsHashText(const ExtensionOptions& options);

}  // namespace zembrat::job
