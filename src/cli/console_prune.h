// A prune, a restore or an emptied trash on the console: one line per file, the mirror's steps
// when a target was named, the report and the summary.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_publish.h"
#include "job/prune.h"

namespace zembrat::cli {

// The report's rows as CSV: action, stamp, path, now_at, outcome, bytes, reason (a mirror's
// steps with the target as their now_at).
std::string TrashReportCsv(const job::TrashOutcome& outcome, job::TrashAction action,
                           const std::string& mirrorName);

// Does the trash action the line asks for over the inputs' result folder, repeated on mirror's
// target when given; the exit status: 0 when everything asked was done (a dry run: listed), 1
// when something was refused or failed, 2 when there is no run record to prune by, 130/143
// after an interrupt.
int TrashOnConsole(const CommandLine& line, const job::RunInputs& inputs,
                   const std::optional<PublishRequest>& mirror);

}  // namespace zembrat::cli
