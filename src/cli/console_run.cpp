#include "cli/console_run.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>

#include "job/article_listing.h"
#include "job/run_report.h"
#include "text/codec.h"

namespace zembrat::cli {
namespace {

volatile sig_atomic_t interrupts = 0;
volatile sig_atomic_t firstSignal = 0;
struct sigaction previousInt {};
struct sigaction previousTerm {};
bool installed = false;

void OnInterrupt(int signal) {
    if (interrupts >= 1) {
        // The second one: no waiting for the run, the program ends here.
        const char newline = '\n';
        if (::write(STDERR_FILENO, &newline, 1) < 0) {
        }
        ::_exit(128 + signal);
    }
    firstSignal = signal;
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
    firstSignal = 0;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed = ::sigaction(SIGINT, &action, &previousInt) == 0 &&
                ::sigaction(SIGTERM, &action, &previousTerm) == 0;
}

void RestoreInterruptHandler() {
    if (installed) {
        ::sigaction(SIGINT, &previousInt, nullptr);
        ::sigaction(SIGTERM, &previousTerm, nullptr);
    }
    installed = false;
}

int InterruptCount() {
    return interrupts;
}

int InterruptStatus() {
    return 128 + (firstSignal ? firstSignal : SIGINT);
}

ConsoleEvents::ConsoleEvents() {
    SetStopToken(stop_.get_token());
}

void ConsoleEvents::Poll() {
    if (InterruptCount() > 0) stop_.request_stop();
}

void ConsoleEvents::KeepPainted() {
    Poll();
    if (onWait) onWait();
}

std::string Printable(std::string_view utf8, bool keepLineEnds) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (keepLineEnds && c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
        if (keepLineEnds && c == '\n') {
            out += '\n';
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            const auto c1 = static_cast<unsigned char>(utf8[++i]);
            out += {'\\', 'u', '0', '0', kHex[c1 >> 4], kHex[c1 & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

platform::MessageAnswer ConsoleEvents::ShowMessage(const platform::MessageRequest& request) {
    if (request.buttons == platform::MessageButtons::YesNo) return platform::MessageAnswer::No;
    if (beforeMessage) beforeMessage();
    const std::string out = Printable(text::Utf8FromGbk(request.text), true);
    std::fprintf(stderr, "zembrat: %s\n", out.c_str());
    std::fflush(stderr);
    return platform::MessageAnswer::Ok;
}

ConsoleProgress::ConsoleProgress(bool quiet, bool terminal, ConsoleEvents& events)
    : quiet_(quiet), terminal_(terminal), events_(events) {
    events_.onWait = [this] { Draw(false); };
    events_.beforeMessage = [this] { ClearLine(); };
}

void ConsoleProgress::RunBegins(const std::vector<std::string>& articles, const std::string&) {
    total_ = articles.size();
    start_ = std::chrono::steady_clock::now();
}

void ConsoleProgress::ImageSettled(std::size_t, const job::ImageRecord& record) {
    if (record.outcome == job::ImageOutcome::Failed)
        ++failed_;
    else
        ++stored_;
    Draw(false);
}

void ConsoleProgress::ArticleEnds(const std::string& path, job::ArticleEnd end,
                                  const std::vector<job::ImageRecord>& images) {
    ++articlesDone_;
    if (!quiet_) {
        if (terminal_) {
            Draw(true);
        } else {
            std::size_t stored = 0, failed = 0;
            for (const job::ImageRecord& r : images) {
                if (r.outcome == job::ImageOutcome::Stored ||
                    r.outcome == job::ImageOutcome::Reused)
                    ++stored;
                else if (r.outcome == job::ImageOutcome::Failed)
                    ++failed;
            }
            std::fprintf(
                stderr, "[%zu/%zu] %s: %s, %zu stored, %zu failed\n", articlesDone_, total_,
                Printable(
                    text::Utf8FromGbk(below_.empty() ? path : job::ArticleBelow(below_, path)))
                    .c_str(),
                job::ArticleEndText(end), stored, failed);
            std::fflush(stderr);
        }
    }
    events_.Poll();
}

std::string ConsoleProgress::Line() const {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::size_t images = stored_ + failed_;
    const double rate = elapsed > 0 ? static_cast<double>(images) / elapsed : 0;
    const double left = articlesDone_ > 0 ? elapsed / static_cast<double>(articlesDone_) *
                                                static_cast<double>(total_ - articlesDone_)
                                          : NAN;
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "articles %zu/%zu | images %zu stored / %zu failed | %.1f images/s | %s left",
                  articlesDone_, total_, stored_, failed_, rate, Clock(left).c_str());
    return buf;
}

void ConsoleProgress::Draw(bool force) {
    if (quiet_ || !terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r\x1b[K%s", Line().c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

void ConsoleProgress::ClearLine() {
    if (!lineShown_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    lineShown_ = false;
}

void ConsoleProgress::EndLine() {
    if (!lineShown_) return;
    std::fprintf(stderr, "\r\x1b[K%s\n", Line().c_str());
    std::fflush(stderr);
    lineShown_ = false;
}

}  // namespace zembrat::cli
