#include "job/run_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "job/article_listing.h"
#include "text/codec.h"
#include "text/csv.h"

namespace zembrat::job {
namespace {

constexpr std::array<const char*, 10> kColumns = {
    "article", "source",      "address",     "outcome", "http_status",
    "bytes",   "stored_name", "new_address", "reason",  "article_result"};

std::array<std::string, 10> Fields(const ReportRow& r) {
    return {r.article,
            r.source,
            r.address,
            r.outcome,
            std::to_string(r.status),
            std::to_string(r.bytes),
            r.storedName,
            r.newAddress,
            r.reason,
            r.articleEnd};
}

// The numeric columns (http_status, bytes) are written as numbers; every other one is text.
bool IsTextColumn(std::size_t column) {
    return column != 4 && column != 5;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string FailureWordsUtf8(const job::ImageRecord& record);

ReportRow RowOf(const std::string& article, const char* end, const job::ImageRecord& record) {
    ReportRow row;
    row.article = article;
    row.source = text::Utf8FromGbk(record.sourceValue);
    row.address = text::Utf8FromGbk(record.address);
    row.outcome = OutcomeText(record.outcome);
    row.status = record.status;
    row.bytes = record.bytes;
    row.storedName = text::Utf8FromGbk(record.storedPath);
    row.newAddress = text::Utf8FromGbk(record.newAddress);
    row.reason = FailureText(record);
    row.words = FailureWordsUtf8(record);
    // A stored image got under the hotlink option tells who asked for it (a rule's cookie never
    // appears here).
    if (record.identity != web::IdentityKind::Plain && row.reason.empty() &&
        (record.outcome == ImageOutcome::Stored || record.outcome == ImageOutcome::Reused))
        row.reason = std::string("identity: ") + web::IdentityName(record.identity);
    row.articleEnd = end;
    if (record.shaped) row.storedBytes = record.storedSize;
    return row;
}

// The column a report has after the others when the image options shaped some of its images.
constexpr const char* kStoredBytesColumn = "stored_bytes";
// The window's report: the reason in the window's words, right after the reason.
constexpr const char* kWordsColumn = "reason_words";
constexpr std::size_t kReasonColumn = 8;

bool HasStoredBytes(const std::vector<ReportRow>& rows) {
    return std::any_of(rows.begin(), rows.end(),
                       [](const ReportRow& r) { return r.storedBytes.has_value(); });
}

std::string StoredBytesText(const ReportRow& r) {
    return r.storedBytes ? std::to_string(*r.storedBytes) : std::string();
}

}  // namespace

const std::string& ReportFileName() {
    using namespace text::literals;
    static const std::string name = "转存报告.csv"_gbk;
    return name;
}

const char* FailReasonText(job::FailReason reason) {
    switch (reason) {
        case job::FailReason::None:
            return "";
        case job::FailReason::Status:
            return "status";
        case job::FailReason::NoAnswer:
            return "no answer";
        case job::FailReason::WebPage:
            return "web page";
        case job::FailReason::NotAnImage:
            return "not an image";
        case job::FailReason::CannotWrite:
            return "cannot be written";
        case job::FailReason::Stopped:
            return "stopped";
        case job::FailReason::Placeholder:
            return "suspected hotlink placeholder";
        case job::FailReason::Recorded:
            return "stored before";
        case job::FailReason::LookAlike:
            return "same bytes as another address of this host";
    }
    return "";
}

std::string FailureText(const job::ImageRecord& record) {
    // No answer: the transfer's own reason (refused, reset, certificate, time-out, ...).
    if (record.reason == job::FailReason::NoAnswer &&
        record.transfer != platform::TransferFailure::None)
        return platform::TransferFailureName(record.transfer);
    return FailReasonText(record.reason);
}

namespace {

const char* TransferWords(platform::TransferFailure failure) {
    using platform::TransferFailure;
    switch (failure) {
        case TransferFailure::None:
            return "没有应答";
        case TransferFailure::NameNotFound:
            return "找不到主机";
        case TransferFailure::Refused:
            return "连接被拒绝";
        case TransferFailure::Reset:
            return "连接被重置";
        case TransferFailure::Certificate:
            return "证书不受信任";
        case TransferFailure::HostName:
            return "证书主机名不符";
        case TransferFailure::RedirectRefused:
            return "拒绝跳转";
        case TransferFailure::TooLarge:
            return "文件过大";
        case TransferFailure::TimedOut:
            return "超时";
        case TransferFailure::BrokenAnswer:
            return "应答不完整";
        case TransferFailure::Stopped:
            return "已停止";
        case TransferFailure::NotSent:
            return "请求未发出";
        case TransferFailure::Other:
            return "网络错误";
        case TransferFailure::ProxyNameNotFound:
            return "找不到代理服务器";
        case TransferFailure::ProxyRefused:
            return "代理服务器拒绝连接";
    }
    return "";
}

// The Chinese words in UTF-8; FailureWords gives them as GBK.
std::string FailureWordsUtf8(const job::ImageRecord& record) {
    switch (record.reason) {
        case job::FailReason::None:
            return "";
        case job::FailReason::Status:
            return "状态码 " + std::to_string(record.status);
        case job::FailReason::NoAnswer:
            return TransferWords(record.transfer);
        case job::FailReason::WebPage:
            return "网页，不是图片";
        case job::FailReason::NotAnImage:
            return "不是图片";
        case job::FailReason::CannotWrite:
            return "无法写入";
        case job::FailReason::Stopped:
            return "已停止";
        case job::FailReason::Placeholder:
            return "疑似防盗链占位图";
        case job::FailReason::Recorded:
            return "已转存";
        case job::FailReason::LookAlike:
            return "与同一网站其他地址的内容完全相同";
    }
    return "";
}

}  // namespace

std::string FailureWords(const job::ImageRecord& record) {
    return text::GbkFromUtf8(FailureWordsUtf8(record));
}

std::string DecisionWords(const job::RefVerdict& verdict) {
    using namespace text::literals;
    switch (verdict.decision) {
        case RefDecision::Download:
            return "下载"_gbk;
        case RefDecision::Empty:
            return "地址为空"_gbk;
        case RefDecision::RelativeNoPrefix:
            return "相对地址，没有填写旧的域名前缀"_gbk;
        case RefDecision::NotHttp:
            return "不是可下载的网络地址"_gbk;
        case RefDecision::Excluded:
            return "在排除地址范围内："_gbk + verdict.range;
        case RefDecision::Duplicate:
            return "文章中重复的地址"_gbk;
    }
    return {};
}

std::optional<std::int64_t> BytesSaved(const std::vector<ReportRow>& rows) {
    std::optional<std::int64_t> saved;
    for (const ReportRow& row : rows) {
        if (!row.storedBytes || row.outcome != OutcomeText(ImageOutcome::Stored)) continue;
        saved = saved.value_or(0) + static_cast<std::int64_t>(row.bytes) -
                static_cast<std::int64_t>(*row.storedBytes);
    }
    return saved;
}

std::string FailureBreakdown(const std::vector<ReportRow>& rows) {
    std::vector<std::pair<std::string, std::size_t>> counts;
    for (const ReportRow& row : rows) {
        if (row.outcome != OutcomeText(ImageOutcome::Failed)) continue;
        std::string key = row.reason;
        if (key == FailReasonText(job::FailReason::Status)) key += " " + std::to_string(row.status);
        auto it = std::find_if(counts.begin(), counts.end(),
                               [&key](const auto& c) { return c.first == key; });
        if (it == counts.end()) {
            counts.emplace_back(key, 1);
        } else {
            ++it->second;
        }
    }
    std::string out;
    for (const auto& [key, count] : counts) {
        if (!out.empty()) out += ", ";
        out += key + ": " + std::to_string(count);
    }
    return out;
}

std::vector<ReportRow> ArticleRows(const std::string& path, ArticleEnd end,
                                   const std::vector<job::RefVerdict>& verdicts,
                                   const std::vector<job::ImageRecord>& records) {
    const std::string article = text::Utf8FromGbk(path);
    const char* endText = ArticleEndText(end);
    std::vector<ReportRow> rows;
    if (verdicts.empty()) {
        for (const job::ImageRecord& record : records)
            rows.push_back(RowOf(article, endText, record));
        if (rows.empty() && (end == ArticleEnd::Unreadable || end == ArticleEnd::Skipped ||
                             end == ArticleEnd::NotReached)) {
            ReportRow row;
            row.article = article;
            row.articleEnd = endText;
            rows.push_back(row);
        }
        return rows;
    }
    std::size_t next = 0;
    for (const job::RefVerdict& v : verdicts) {
        if (v.decision == job::RefDecision::Download) {
            if (next < records.size()) {
                rows.push_back(RowOf(article, endText, records[next++]));
                continue;
            }
            // Never reached: the run stopped before it queued the article's downloads.
            job::ImageRecord unreached;
            unreached.sourceValue = v.sourceValue;
            unreached.address = v.address;
            rows.push_back(RowOf(article, endText, unreached));
            continue;
        }
        ReportRow row;
        row.article = article;
        row.source = text::Utf8FromGbk(v.sourceValue);
        row.address = text::Utf8FromGbk(v.address);
        row.outcome = "dropped";
        row.reason = text::Utf8FromGbk(job::DecisionText(v));
        row.words = text::Utf8FromGbk(DecisionWords(v));
        row.articleEnd = endText;
        rows.push_back(row);
    }
    return rows;
}

void ReportCollector::ReferencesDecided(const std::string& path,
                                        const std::vector<RefVerdict>& verdicts) {
    decidedFor_ = path;
    verdicts_ = verdicts;
}

void ReportCollector::ArticleEnds(const std::string& path, ArticleEnd end,
                                  const std::vector<ImageRecord>& images) {
    if (tellLookAlikes_) {
        for (const ImageRecord& r : images) lookAlikes_.Add(r);
    }
    // An unreadable article had no references decided.
    if (decidedFor_ != path) verdicts_.clear();
    for (const RefVerdict& v : verdicts_) {
        if (v.decision != RefDecision::Download) ++dropped_;
    }
    for (const ImageRecord& r : images) {
        if (r.outcome == ImageOutcome::NotReached) ++notReached_;
    }
    ended_.push_back({path, end, std::move(verdicts_), images});
    decidedFor_.clear();
    verdicts_.clear();
}

const std::vector<ReportRow>& ReportCollector::rows() const {
    for (; made_ < ended_.size(); ++made_) {
        Ended& e = ended_[made_];
        for (ImageRecord& r : e.images) {
            if (r.reason == FailReason::None && r.outcome != ImageOutcome::Failed &&
                lookAlikes_.Concerns(r.address))
                r.reason = FailReason::LookAlike;
        }
        std::vector<ReportRow> more = ArticleRows(
            below_.empty() ? e.path : ArticleBelow(below_, e.path), e.end, e.verdicts, e.images);
        rows_.insert(rows_.end(), std::make_move_iterator(more.begin()),
                     std::make_move_iterator(more.end()));
    }
    return rows_;
}

std::string CsvReport(const std::vector<ReportRow>& rows, bool withWords) {
    std::string out(text::kCsvBom);
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        if (c) out += ',';
        out += kColumns[c];
        if (withWords && c == kReasonColumn) out += std::string(",") + kWordsColumn;
    }
    const bool storedBytes = HasStoredBytes(rows);
    if (storedBytes) out += std::string(",") + kStoredBytesColumn;
    out += "\r\n";
    for (const ReportRow& row : rows) {
        const auto fields = Fields(row);
        for (std::size_t c = 0; c < fields.size(); ++c) {
            if (c) out += ',';
            out += text::CsvCell(fields[c], IsTextColumn(c));
            if (withWords && c == kReasonColumn) out += "," + text::CsvCell(row.words, true);
        }
        if (storedBytes) out += "," + StoredBytesText(row);
        out += "\r\n";
    }
    return out;
}

std::string JsonReport(const std::vector<ReportRow>& rows) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ReportRow& r = rows[i];
        out += i ? ",\n  {" : "\n  {";
        const auto fields = Fields(r);
        for (std::size_t c = 0; c < fields.size(); ++c) {
            if (c) out += ", ";
            out += JsonString(kColumns[c]);
            out += ": ";
            // Numbers stay numbers.
            out += (c == 4 || c == 5) ? fields[c] : JsonString(fields[c]);
        }
        if (r.storedBytes)
            out += std::string(", ") + JsonString(kStoredBytesColumn) + ": " + StoredBytesText(r);
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

bool ParseCsvReport(const std::string& bytes, std::vector<ReportRow>& rows, std::string& error) {
    std::size_t at = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    std::vector<std::vector<std::string>> records;
    std::vector<std::size_t> recordLines;  // the line each record begins on, from 1
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool fieldStarted = false;
    std::size_t line = 1, recordLine = 1;
    for (; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == '\n' || (c == '\r' && (at + 1 == bytes.size() || bytes[at + 1] != '\n'))) ++line;
        if (quoted) {
            if (c == '"') {
                if (at + 1 < bytes.size() && bytes[at + 1] == '"') {
                    field += '"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
            fieldStarted = false;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') {
                ++at;
                ++line;
            }
            record.push_back(std::move(field));
            records.push_back(std::move(record));
            recordLines.push_back(recordLine);
            recordLine = line;
            field.clear();
            record.clear();
            fieldStarted = false;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        error = "a quoted field is not closed";
        return false;
    }
    if (fieldStarted || !record.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
        recordLines.push_back(recordLine);
    }
    if (records.empty()) {
        error = "the report is empty";
        return false;
    }
    std::array<int, kColumns.size()> index{};
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        index[c] = -1;
        for (std::size_t k = 0; k < records[0].size(); ++k) {
            if (records[0][k] == kColumns[c]) index[c] = static_cast<int>(k);
        }
        if (index[c] < 0) {
            error = std::string("the report has no column ") + kColumns[c];
            return false;
        }
    }
    int storedBytesAt = -1;  // the optional column of the image options
    int wordsAt = -1;        // and the window's words
    for (std::size_t k = 0; k < records[0].size(); ++k) {
        if (records[0][k] == kStoredBytesColumn) storedBytesAt = static_cast<int>(k);
        if (records[0][k] == kWordsColumn) wordsAt = static_cast<int>(k);
    }
    rows.clear();
    for (std::size_t r = 1; r < records.size(); ++r) {
        const auto& f = records[r];
        if (f.size() == 1 && f[0].empty()) continue;  // a blank line
        auto get = [&](std::size_t c) -> std::string {
            const auto k = static_cast<std::size_t>(index[c]);
            std::string cell = k < f.size() ? f[k] : std::string();
            if (IsTextColumn(c) && cell.size() > 1 && cell[0] == '\'' &&
                text::CsvNeedsApostrophe(std::string_view(cell).substr(1)))
                cell.erase(0, 1);
            return cell;
        };
        ReportRow row;
        row.line = recordLines[r];
        row.article = get(0);
        row.source = get(1);
        row.address = get(2);
        row.outcome = get(3);
        row.status = std::strtol(get(4).c_str(), nullptr, 10);
        row.bytes = std::strtoul(get(5).c_str(), nullptr, 10);
        row.storedName = get(6);
        row.newAddress = get(7);
        row.reason = get(8);
        row.articleEnd = get(9);
        if (wordsAt >= 0 && static_cast<std::size_t>(wordsAt) < f.size())
            row.words = f[static_cast<std::size_t>(wordsAt)];
        if (storedBytesAt >= 0 && static_cast<std::size_t>(storedBytesAt) < f.size() &&
            !f[static_cast<std::size_t>(storedBytesAt)].empty())
            row.storedBytes =
                std::strtoull(f[static_cast<std::size_t>(storedBytesAt)].c_str(), nullptr, 10);
        rows.push_back(std::move(row));
    }
    return true;
}

}  // namespace zembrat::job
