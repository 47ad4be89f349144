// The event points of the program over Qt: what the job, the settings store and the web client
// call to let the window live while they work. The application owns the one object.
#pragma once

#include <QElapsedTimer>

#include "platform/event_points.h"

namespace zembrat::ui {

class QtEventPoints : public platform::EventPoints {
  public:
    // A run reaches its event points far more often than a screen refreshes, and every pass
    // repaints what changed; a pass closer than this to the last one is skipped, so pending
    // input is taken at the next point at most that much later.
    static constexpr qint64 kMinimumIntervalMs = 15;

    void ProcessEvents() override;
    // The same pass, input included: a stop press or a close during a download is handled at
    // once, and the wait then sees the stop.
    void KeepPainted() override;
    platform::MessageAnswer ShowMessage(const platform::MessageRequest& request) override;

  private:
    QElapsedTimer sinceLastPass_;
};

}  // namespace zembrat::ui
