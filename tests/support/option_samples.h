// For tests that walk the option table: a text of each option other than its default's, of the
// option's own form, as the settings file holds it (and the command line takes it: ASCII).
#pragma once

#include <string>

#include "job/option_table.h"

namespace zembrat::testing {

inline std::string NonDefaultText(const job::OptionDescriptor& d) {
    const job::ExtensionOptions defaults;
    const std::string current = d.Text(defaults);
    switch (d.kind) {
        case job::OptionKind::Flag:
            return current == "1" ? "0" : "1";
        case job::OptionKind::Number:
            return current == std::to_string(d.high) ? std::to_string(d.low)
                                                     : std::to_string(d.high);
        case job::OptionKind::Text:
        case job::OptionKind::Folder:
            return current == "/srv/site" ? "/srv/other" : "/srv/site";
        case job::OptionKind::Choice:
            for (const job::OptionChoice& choice : d.choices) {
                if (current != choice.value) return choice.value;
            }
    }
    return current;
}

}  // namespace zembrat::testing
