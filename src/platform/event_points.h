// The event points of the core: the one way long work reaches the window.
//
// The program runs on one thread. Long work (the job, the settings store, a download waiting
// for its answer) lets the window live at fixed points through one EventPoints object, which the
// application makes over its toolkit and hands to the job, the store and the web client. The
// object also carries the stop of the run in progress, so that a wait can see it at once.
//
// The base class is the object for code that has no window: it processes nothing and writes
// messages to standard error.
#pragma once

#include <stop_token>
#include <utility>

#include "platform/messages.h"

namespace zembrat::platform {

class EventPoints {
  public:
    EventPoints() = default;
    EventPoints(const EventPoints&) = delete;
    EventPoints& operator=(const EventPoints&) = delete;
    virtual ~EventPoints() = default;

    // Lets the window system dispatch its pending events once, input included.
    virtual void ProcessEvents() {}
    // Called about every 25 ms while a blocking call (a download) waits: the window keeps
    // repainting and takes input, so a stop press or a close is never held back.
    virtual void KeepPainted() { ProcessEvents(); }
    // A message box; without a window the text goes to standard error and the answer is Ok
    // (No for a question).
    virtual MessageAnswer ShowMessage(const MessageRequest& request);

    // The stop of the run in progress. A wait that finds it requested abandons its transfer.
    std::stop_token StopToken() const { return stop_; }
    bool StopRequested() const { return stop_.stop_requested(); }
    void SetStopToken(std::stop_token token) { stop_ = std::move(token); }

  private:
    std::stop_token stop_;
};

// The shared object for code that was given none.
EventPoints& NoEventPoints();

}  // namespace zembrat::platform
