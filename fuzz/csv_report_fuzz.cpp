// The run report's CSV on random rows built from the input: reading back what was written
// gives the same rows, whatever bytes the cells hold (quotes, commas, CR LF, formula signs,
// zero bytes, broken UTF-8). Random bytes are also read as a report, which must never crash.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "job/run_report.h"

namespace {
using zembrat::job::ReportRow;

bool SameRow(const ReportRow& a, const ReportRow& b) {
    return a.article == b.article && a.source == b.source && a.address == b.address &&
           a.outcome == b.outcome && a.status == b.status && a.bytes == b.bytes &&
           a.storedName == b.storedName && a.newAddress == b.newAddress && a.reason == b.reason &&
           a.articleEnd == b.articleEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return 0;
    {
        std::vector<ReportRow> rows;
        std::string error;
        const std::string bytes(reinterpret_cast<const char*>(data), size);
        if (!zembrat::job::ParseCsvReport(bytes, rows, error)) FUZZ_CHECK(!error.empty());
    }

    FuzzedDataProvider in(data, size);
    std::vector<ReportRow> rows(in.ConsumeIntegralInRange<std::size_t>(0, 6));
    for (ReportRow& r : rows) {
        for (std::string* cell : {&r.article, &r.source, &r.address, &r.outcome, &r.storedName,
                                  &r.newAddress, &r.reason, &r.articleEnd})
            *cell = in.ConsumeRandomLengthString(64);
        r.status = in.ConsumeIntegral<long>();
        r.bytes = in.ConsumeIntegral<std::size_t>();
    }
    const std::string csv = zembrat::job::CsvReport(rows);
    std::vector<ReportRow> back;
    std::string error;
    const bool read = zembrat::job::ParseCsvReport(csv, back, error);
    if (!read) std::fprintf(stderr, "%s\n", error.c_str());
    FUZZ_CHECK(read);
    FUZZ_CHECK(back.size() == rows.size());
    for (std::size_t i = 0; i < rows.size() && i < back.size(); ++i)
        FUZZ_CHECK(SameRow(rows[i], back[i]));
    return 0;
}
