#include "platform/events.h"

#include <utility>

namespace zembrat::platform {
namespace {

EventHook& ProcessEventsSlot() {
    static EventHook hook;
    return hook;
}

EventHook& KeepPaintedSlot() {
    static EventHook hook;
    return hook;
}

}  // namespace

void ProcessEvents() {
    // A copy, so that a hook may replace itself while it runs.
    if (EventHook hook = ProcessEventsSlot()) hook();
}

void KeepWindowPainted() {
    if (EventHook hook = KeepPaintedSlot()) hook();
}

EventHook SetProcessEventsHook(EventHook hook) {
    return std::exchange(ProcessEventsSlot(), std::move(hook));
}

EventHook SetKeepWindowPaintedHook(EventHook hook) {
    return std::exchange(KeepPaintedSlot(), std::move(hook));
}

}  // namespace zembrat::platform
