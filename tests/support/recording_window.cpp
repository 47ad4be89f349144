#include "support/recording_window.h"

#include "ui/job_driver.h"

namespace zembrat::testing {
namespace {

std::string U8(const std::string& gbk) {
    return text::Utf8FromGbk(gbk);
}

const char* BoxName(ui::EditBox box) {
    switch (box) {
        case ui::EditBox::ArticleFolder:
            return "ArticleFolder";
        case ui::EditBox::ArticleFilter:
            return "ArticleFilter";
        case ui::EditBox::ImageFolder:
            return "ImageFolder";
        case ui::EditBox::OldPrefix:
            return "OldPrefix";
        case ui::EditBox::NewPrefix:
            return "NewPrefix";
        case ui::EditBox::ExcludedRanges:
            return "ExcludedRanges";
    }
    return "?";
}

}  // namespace

RecordingWindow::RecordingWindow() : caption(ui::StartCaption()) {
    using namespace text::literals;
    edits[ui::EditBox::ArticleFilter] = "*.htm";
    edits[ui::EditBox::ImageFolder] = "files/img";
}

void RecordingWindow::SetStartCaption(const std::string& c) {
    caption = c;
    Log("caption " + U8(c));
}

std::string RecordingWindow::EditText(ui::EditBox box) const {
    auto it = edits.find(box);
    return it == edits.end() ? std::string() : it->second;
}

void RecordingWindow::SetEditEnabled(ui::EditBox box, bool on) {
    enabled[box] = on;
    Log(std::string(on ? "enable " : "disable ") + BoxName(box));
}

void RecordingWindow::SetProgressVisible(bool visible) {
    progressVisible = visible;
    Log(visible ? "show progress" : "hide progress");
}

void RecordingWindow::SetStatusLabelVisible(bool visible) {
    labelVisible = visible;
    Log(visible ? "show label" : "hide label");
}

void RecordingWindow::SetProgressMaximum(long maximum) {
    progressMaximum = maximum;
    Log("maximum " + std::to_string(maximum));
}

void RecordingWindow::SetProgressPosition(long position) {
    progressPosition = position;
    Log("position " + std::to_string(position));
}

void RecordingWindow::SetStatusText(const std::string& t) {
    statusText = t;
    Log("label " + U8(t));
}

void RecordingWindow::ClearRows() {
    rows.clear();
    Log("clear rows");
}

void RecordingWindow::InsertRow(int row, ui::StatusIcon icon) {
    rows.insert(rows.begin() + row, Row{icon, {}, {}});
    Log("insert row " + std::to_string(row) + " icon " + std::to_string(static_cast<int>(icon)));
}

void RecordingWindow::SetCellText(int row, int column, const std::string& t) {
    std::string& cell =
        rows.at(static_cast<std::size_t>(row)).cells.at(static_cast<std::size_t>(column));
    if (quiet) return;
    cell = t;
    Log("cell " + std::to_string(row) + "," + std::to_string(column) + " " + U8(t));
}

void RecordingWindow::SetRowToolTip(int row, const std::string& t) {
    std::string& tip = rows.at(static_cast<std::size_t>(row)).toolTip;
    if (quiet) return;
    tip = t;
    Log("tooltip " + std::to_string(row) + " " + U8(t));
}

void RecordingWindow::SetRowIcon(int row, ui::StatusIcon icon) {
    rows.at(static_cast<std::size_t>(row)).icon = icon;
    Log("icon " + std::to_string(row) + " " + std::to_string(static_cast<int>(icon)));
}

void RecordingWindow::ScrollToRow(int row) {
    Log("scroll " + std::to_string(row));
}

void RecordingWindow::ProcessEvents() {
    ++processEventsCalls;
    if (onProcessEvents) onProcessEvents(processEventsCalls);
}

void RecordingWindow::KeepPainted() {
    ++keepPaintedCalls;
    if (onKeepPainted) onKeepPainted(keepPaintedCalls);
}

platform::MessageAnswer RecordingWindow::ShowMessage(const platform::MessageRequest& request) {
    const std::string& t = request.text;
    const platform::MessageButtons buttons = request.buttons;
    messages.push_back(t);
    Log("message " + U8(t));
    if (!answers.empty()) {
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::No
                                                      : platform::MessageAnswer::Ok;
}

bool RecordingWindow::OpenInFileManager(const std::string& folder) {
    openedFolders.push_back(folder);
    Log("open " + U8(folder));
    return fileManagerStarts;
}

void RecordingWindow::Log(std::string line) {
    if (quiet) return;
    log.push_back(line);
    if (onLog) onLog(line);
}

std::vector<std::string> RecordingWindow::LogLines(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : log) {
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace zembrat::testing
