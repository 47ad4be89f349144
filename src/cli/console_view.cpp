#include "cli/console_view.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::cli {
namespace {

volatile sig_atomic_t interrupts = 0;
struct sigaction previous {};
bool installed = false;

void OnInterrupt(int) {
    if (interrupts >= 1) {
        // The second Ctrl+C: no waiting for the run, the program ends here.
        const char newline = '\n';
        if (::write(STDERR_FILENO, &newline, 1) < 0) {
        }
        ::_exit(130);
    }
    interrupts = interrupts + 1;
}

std::string Clock(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

void InstallInterruptHandler() {
    interrupts = 0;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed = ::sigaction(SIGINT, &action, &previous) == 0;
}

void RestoreInterruptHandler() {
    if (installed) ::sigaction(SIGINT, &previous, nullptr);
    installed = false;
}

int InterruptCount() {
    return interrupts;
}

std::string ConsoleWindow::EditText(job::EditBox box) const {
    const auto it = settings_.find(box);
    return it == settings_.end() ? std::string() : it->second;
}

void ConsoleWindow::SetRowIcon(int, job::StatusIcon icon) {
    if (icon == job::StatusIcon::Saved)
        ++stored;
    else if (icon == job::StatusIcon::Failed)
        ++failed;
    else
        return;
    if (onImage) onImage();
}

void ConsoleEvents::Poll() {
    if (InterruptCount() > taken_) {
        taken_ = InterruptCount();
        pending_ = true;
    }
    // Pressed while the articles are listed, the button would be ignored: the stop waits for
    // the run to begin.
    if (pending_ && driver_ && window_.StartCaption() == job::StopCaption()) {
        pending_ = false;
        driver_->StartOrStop(job::ListingMethod::FolderObject);
    }
}

void ConsoleEvents::KeepPainted() {
    Poll();
    if (onWait) onWait();
}

platform::MessageAnswer ConsoleEvents::ShowMessage(const platform::MessageRequest& request) {
    if (request.buttons == platform::MessageButtons::YesNo) return platform::MessageAnswer::No;
    if (beforeMessage) beforeMessage();
    std::string text = text::Utf8FromGbk(request.text);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    std::fprintf(stderr, "zembrat: %s\n", out.c_str());
    std::fflush(stderr);
    return platform::MessageAnswer::Ok;
}

ConsoleRun::ConsoleRun(Setup setup, const job::JobDriver& driver, ConsoleWindow& window,
                       ConsoleEvents& events)
    : setup_(std::move(setup)), driver_(driver), window_(window), events_(events) {
    window_.onImage = [this] { Draw(false); };
    events_.onWait = [this] { Draw(false); };
    events_.beforeMessage = [this] { ClearLine(); };
}

void ConsoleRun::ArticleDone(const std::string& path, ArticleEnd end,
                             const std::vector<job::ImageRecord>& images) {
    ++articlesDone;
    std::size_t stored = 0, failed = 0;
    for (const job::ImageRecord& r : images) {
        if (r.outcome == job::ImageOutcome::Stored || r.outcome == job::ImageOutcome::Reused)
            ++stored;
        else if (r.outcome == job::ImageOutcome::Failed)
            ++failed;
    }
    // The dropped references: the article's decisions, read again from its bytes.
    std::vector<job::RefVerdict> verdicts;
    text::Bytes article;
    if (setup_.decideDropped && end != ArticleEnd::Unreadable &&
        platform::ReadWholeFile(path, article))
        verdicts = job::DecideImageRefs(article, setup_.oldPrefix, setup_.excludedRanges);
    articles_.push_back({path, end, images, std::move(verdicts)});
    if (!setup_.quiet) {
        if (setup_.terminal) {
            Draw(true);
        } else {
            std::fprintf(stderr, "[%zu/%zu] %s: %s, %zu stored, %zu failed\n", articlesDone,
                         driver_.articles().size(), text::Utf8FromGbk(path).c_str(),
                         ArticleEndText(end), stored, failed);
            std::fflush(stderr);
        }
    }
    events_.Poll();
}

void ConsoleRun::Complete() {
    skipped = 0;
    rows.clear();
    for (const Article& a : articles_) {
        std::size_t kept = 0;
        for (const job::RefVerdict& v : a.verdicts) {
            if (v.decision == job::RefDecision::Download)
                ++kept;
            else
                ++skipped;
        }
        for (const job::ImageRecord& r : a.images) {
            if (r.outcome == job::ImageOutcome::NotReached) ++skipped;
        }
        // Kept references the run never queued (a stop while they were collected).
        if (kept > a.images.size()) skipped += kept - a.images.size();
        if (setup_.keepRows) {
            std::vector<ReportRow> more = ArticleRows(a.path, a.end, a.verdicts, a.images);
            rows.insert(rows.end(), std::make_move_iterator(more.begin()),
                        std::make_move_iterator(more.end()));
        }
    }
}

std::string ConsoleRun::Line() const {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::size_t total = driver_.articles().size();
    const std::size_t images = window_.stored + window_.failed;
    const double rate = elapsed > 0 ? static_cast<double>(images) / elapsed : 0;
    const double left = articlesDone > 0 ? elapsed / static_cast<double>(articlesDone) *
                                               static_cast<double>(total - articlesDone)
                                         : NAN;
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "articles %zu/%zu | images %zu stored / %zu failed | %.1f images/s | %s left",
                  articlesDone, total, window_.stored, window_.failed, rate, Clock(left).c_str());
    return buf;
}

void ConsoleRun::Draw(bool force) {
    if (setup_.quiet || !setup_.terminal) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r\x1b[K%s", Line().c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

void ConsoleRun::ClearLine() {
    if (!lineShown_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    lineShown_ = false;
}

void ConsoleRun::EndLine() {
    if (!lineShown_) return;
    std::fprintf(stderr, "\r\x1b[K%s\n", Line().c_str());
    std::fflush(stderr);
    lineShown_ = false;
}

}  // namespace zembrat::cli
