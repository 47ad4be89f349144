// The window a run is shown in: exactly the window state the job driver reads and changes. The Qt
// main window implements it, the job's tests use a recording fake. Event passes, message boxes
// and the stop reach the window through platform::EventPoints, not through this.
#pragma once

#include <string>

namespace zembrat::ui {

// The six edit boxes; each holds one setting, read as typed whenever the run needs it.
enum class EditBox {
    ArticleFolder,
    ArticleFilter,
    ImageFolder,
    OldPrefix,
    NewPrefix,
    ExcludedRanges
};

// Indices into the status list's icon list.
enum class StatusIcon { Saved = 0, Failed = 1, Queued = 2, Downloading = 3 };

class JobWindow {
  public:
    virtual ~JobWindow() = default;

    // Caption of the start/stop button, GBK.
    virtual std::string StartCaption() const = 0;
    virtual void SetStartCaption(const std::string& caption) = 0;

    // Current text of an edit box, GBK.
    virtual std::string EditText(EditBox box) const = 0;
    virtual void SetEditEnabled(EditBox box, bool enabled) = 0;

    // The progress bar and the status label laid over it.
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetStatusLabelVisible(bool visible) = 0;
    virtual void SetProgressMaximum(long maximum) = 0;
    virtual void SetProgressPosition(long position) = 0;
    virtual void SetStatusText(const std::string& text) = 0;

    // The status list: rows counted from 0, columns 0 (storage location) and 1 (address).
    virtual void ClearRows() = 0;
    virtual void InsertRow(int row, StatusIcon icon) = 0;
    virtual void SetCellText(int row, int column, const std::string& text) = 0;
    virtual void SetRowIcon(int row, StatusIcon icon) = 0;
    // The tip shown over both cells of the row, GBK (a failed row's reason).
    virtual void SetRowToolTip(int row, const std::string& text) = 0;
    virtual void ScrollToRow(int row) = 0;
    virtual int RowCount() const = 0;

    // Opens the folder in the file manager without waiting; false when it could not be started.
    virtual bool OpenInFileManager(const std::string& folder) = 0;
};

}  // namespace zembrat::ui
