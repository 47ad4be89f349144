// The job's window and event points as a recording fake: every change the job makes to the
// window, every event point it reaches and every message it shows. With quiet set it keeps only
// what a run reads back, for benchmarks and fuzz targets.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/event_points.h"
#include "text/codec.h"
#include "ui/job_window.h"

namespace zembrat::testing {

class RecordingWindow : public ui::JobWindow, public platform::EventPoints {
  public:
    struct Row {
        ui::StatusIcon icon;
        std::array<std::string, 2> cells;  // GBK
        std::string toolTip;               // GBK
    };

    RecordingWindow();

    // Readable log of every change, one line per call, texts in UTF-8: "caption 停止下载".
    std::vector<std::string> log;
    // Settings, GBK.
    std::map<ui::EditBox, std::string> edits;
    std::map<ui::EditBox, bool> enabled;
    std::string caption;
    bool progressVisible = false, labelVisible = false;
    long progressMaximum = 0, progressPosition = 0;
    std::string statusText;
    std::vector<Row> rows;
    // Messages shown (GBK) and the answers to give, in order (default: No / Ok).
    std::vector<std::string> messages;
    std::deque<platform::MessageAnswer> answers;
    std::vector<std::string> openedFolders;
    // Runs at every ProcessEvents call, with the call's number (from 1).
    std::function<void(int)> onProcessEvents;
    int processEventsCalls = 0;
    // Runs at every KeepPainted call (a download waiting), with the call's number (from 1).
    std::function<void(int)> onKeepPainted;
    int keepPaintedCalls = 0;
    // Keep no log and no cell texts.
    bool quiet = false;
    // Runs after every log line is added, with that line.
    std::function<void(const std::string&)> onLog;

    std::string StartCaption() const override { return caption; }
    void SetStartCaption(const std::string& c) override;
    std::string EditText(ui::EditBox box) const override;
    void SetEditEnabled(ui::EditBox box, bool on) override;
    void SetEditText(ui::EditBox box, const std::string& text) override { edits[box] = text; }
    void SetProgressVisible(bool visible) override;
    void SetStatusLabelVisible(bool visible) override;
    void SetProgressMaximum(long maximum) override;
    void SetProgressPosition(long position) override;
    void SetStatusText(const std::string& text) override;
    void ClearRows() override;
    void InsertRow(int row, ui::StatusIcon icon) override;
    void SetCellText(int row, int column, const std::string& text) override;
    void SetRowIcon(int row, ui::StatusIcon icon) override;
    void SetRowToolTip(int row, const std::string& text) override;
    void ScrollToRow(int row) override;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    bool OpenInFileManager(const std::string& folder) override;
    // False: the file manager cannot be started.
    bool fileManagerStarts = true;

    // platform::EventPoints
    void ProcessEvents() override;
    void KeepPainted() override;
    platform::MessageAnswer ShowMessage(const platform::MessageRequest& request) override;

    // Log lines starting with prefix.
    std::vector<std::string> LogLines(const std::string& prefix) const;

  private:
    void Log(std::string line);
};

}  // namespace zembrat::testing
