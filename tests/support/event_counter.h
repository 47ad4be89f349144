// Event points that count where the core lets the window live, for tests.
#pragma once

#include <chrono>
#include <functional>
#include <stop_token>

#include "platform/event_points.h"

namespace zembrat::testing {

struct EventCounter : platform::EventPoints {
    int processed = 0;  // ProcessEvents calls
    int painted = 0;    // KeepPainted calls (a blocking wait)
    // Run at each call, with its number (from 1).
    std::function<void(int)> onProcess, onPainted;

    void ProcessEvents() override {
        ++processed;
        if (onProcess) onProcess(processed);
    }
    void KeepPainted() override {
        ++painted;
        if (onPainted) onPainted(painted);
    }

    // The stop token becomes stop's, whose stop is requested at the call-th KeepPainted (from
    // now on); stoppedAt tells when.
    std::stop_source stop;
    std::chrono::steady_clock::time_point stoppedAt;
    void StopAtPaint(int call) {
        SetStopToken(stop.get_token());
        onPainted = [this, call](int n) {
            if (n != call) return;
            stop.request_stop();
            stoppedAt = std::chrono::steady_clock::now();
        };
    }
};

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zembrat::testing
