// The window a run is shown in: exactly the window state the job driver reads and changes. The Qt
// main window implements it, the job's tests use a recording fake. Event passes, message boxes
// and the stop reach the window through platform::EventPoints, not through this.
#pragma once

#include <string>

#include "job/run.h"

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

// The boxes of the six settings, in the order of the settings table.
inline constexpr EditBox kSettingBoxes[] = {EditBox::ArticleFolder, EditBox::ArticleFilter,
                                            EditBox::ImageFolder,   EditBox::OldPrefix,
                                            EditBox::NewPrefix,     EditBox::ExcludedRanges};

// The setting a box shows.
constexpr std::string job::JobSettings::*SettingField(EditBox box) {
    switch (box) {
        case EditBox::ArticleFolder:
            return &job::JobSettings::articleFolder;
        case EditBox::ArticleFilter:
            return &job::JobSettings::articleFilter;
        case EditBox::ImageFolder:
            return &job::JobSettings::imageFolder;
        case EditBox::OldPrefix:
            return &job::JobSettings::oldPrefix;
        case EditBox::NewPrefix:
            return &job::JobSettings::newPrefix;
        case EditBox::ExcludedRanges:
            return &job::JobSettings::excludedRanges;
    }
    return nullptr;
}

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
    // Puts text (GBK) into a box, as the user would type it.
    virtual void SetEditText(EditBox box, const std::string& text) = 0;

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

// The six settings as the window's boxes hold them now.
inline job::JobSettings ShownSettings(const JobWindow& window) {
    job::JobSettings settings;
    for (EditBox box : kSettingBoxes) settings.*SettingField(box) = window.EditText(box);
    return settings;
}

}  // namespace zembrat::ui
