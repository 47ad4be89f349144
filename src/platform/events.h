// The event-processing points of the core.
//
// The program runs on one thread; long work lets the window system dispatch pending events at
// fixed points by calling ProcessEvents(). While a blocking call (a download) waits, it calls
// KeepWindowPainted() instead, which lets the window repaint without taking input, so input stays
// queued until the next ProcessEvents(). The application points both hooks at its toolkit;
// without hooks both do nothing. Tests set hooks to count or to act at these points.
#pragma once

#include <functional>

namespace zembrat::platform {

using EventHook = std::function<void()>;

void ProcessEvents();
void KeepWindowPainted();

// Each returns the hook it replaces.
EventHook SetProcessEventsHook(EventHook hook);
EventHook SetKeepWindowPaintedHook(EventHook hook);

}  // namespace zembrat::platform
