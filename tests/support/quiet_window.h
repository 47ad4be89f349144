// A job window that keeps only what a run reads back (the caption, the settings and the row
// count), for benchmarks and fuzz targets that run the job without a display.
#pragma once

#include <map>
#include <string>

#include "job/job_driver.h"
#include "job/job_window.h"

namespace zembrat::testing {

class QuietWindow : public job::JobWindow {
public:
    std::map<job::EditBox, std::string> edits;
    std::string caption = job::StartCaption();
    int rows = 0;

    std::string StartCaption() const override { return caption; }
    void SetStartCaption(const std::string& c) override { caption = c; }
    std::string EditText(job::EditBox box) const override {
        auto it = edits.find(box);
        return it == edits.end() ? std::string() : it->second;
    }
    void SetEditEnabled(job::EditBox, bool) override {}
    void SetProgressVisible(bool) override {}
    void SetStatusLabelVisible(bool) override {}
    void SetProgressMaximum(long) override {}
    void SetProgressPosition(long) override {}
    void SetStatusText(const std::string&) override {}
    void ClearRows() override { rows = 0; }
    void InsertRow(int, job::StatusIcon) override { ++rows; }
    void SetCellText(int row, int column, const std::string&) override {
        if (row < 0 || row >= rows || column < 0 || column > 1) std::abort();  // no such cell
    }
    void SetRowIcon(int, job::StatusIcon) override {}
    void ScrollToRow(int) override {}
    int RowCount() const override { return rows; }
    void ProcessEvents() override {}
    platform::MessageAnswer ShowMessage(const std::string&, platform::MessageButtons) override {
        return platform::MessageAnswer::No;
    }
    void OpenInFileManager(const std::string&) override {}
};

}  // namespace zembrat::testing
