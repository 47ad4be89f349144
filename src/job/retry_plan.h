// A retry of an earlier run's failed images, from its report's rows or from the run record: which
// articles run again, what each is read from and which of its references are downloaded. Both
// front ends build their retries here.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "job/run.h"
#include "job/run_report.h"

namespace zembrat::job {

// The article folder as a plain absolute path: no "." or ".." piece, no empty piece, no final
// separator; empty when it is not absolute. GBK.
std::string PlainFolder(const std::string& folder);

// The run record's articles to retry, as the rows of a report: the references whose last run left
// them failed or not reached, every reference of an article a stop cut short, one row for each
// article a stop came before. folder: plain (see PlainFolder); resultFolder: the run's. False,
// with why and how to get a record (UTF-8), when the result folder holds none.
bool RecordRows(const std::string& folder, const std::string& resultFolder,
                std::vector<ReportRow>& rows, std::string& error);

// What a retry runs.
struct Retry {
    std::optional<RunPlan> plan;  // empty: nothing to retry
    // Failed images with an https:// address left out, the https option being off.
    std::size_t httpsLeft = 0;
    // The articles (UTF-8, as the report names them) whose earlier result was missing, so that
    // the article itself is read and rewritten.
    std::set<std::string> fromOriginal;
};

// The retry of rows (a report's or RecordRows'): the failed and unreached images, every image of
// an article a stop cut short, and the whole of an article a stop came before, grouped by article
// in the rows' order. Each article is read from its earlier result in the result folder, or from
// itself when that is missing (or when a stop came before it). Every article must be a plain
// absolute path in the article folder of inputs (below it, for a tree; a tree's report may name
// them below it) that the article filter takes: otherwise false, with error "line N: ..."
// (UTF-8). inputs' article folder becomes the plain folder.
bool PlanRetry(std::vector<ReportRow> rows, RunInputs& inputs, Retry& retry, std::string& error);

// What the report and the summary say of a retried article whose earlier result was missing.
inline constexpr const char* kFromOriginal = "earlier result missing: rewritten from the original";

}  // namespace zembrat::job
