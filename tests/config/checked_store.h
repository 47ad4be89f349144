// A disk-file store on a settings file in a temporary folder, for the store's tests.
//
// Every call made through operator-> is followed, once the call has returned, by the check that
// the file on disk holds exactly the store's mirror, so every test of the disk backend checks it
// after every operation.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_store.h"
#include "config/config_store_test_access.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace zembrat::config {
using Probe = ConfigStoreTestAccess;
}

namespace zembrat::config::testing {

// Lines joined with CR LF, without a final CR LF.
inline std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string out;
    bool first = true;
    for (std::string_view line : lines) {
        if (!first) out += "\r\n";
        out += line;
        first = false;
    }
    return out;
}

// Event points that run a handler at each event point and keep the messages shown.
class StorePoints : public platform::EventPoints {
  public:
    std::function<void()> onEvents;
    std::vector<platform::MessageRequest> shown;

    void ProcessEvents() override {
        if (onEvents) onEvents();
    }
    platform::MessageAnswer ShowMessage(const platform::MessageRequest& request) override {
        shown.push_back(request);
        return platform::MessageAnswer::Ok;
    }
};

class CheckedStore {
  public:
    // A store for the settings file dir/name; Open or OpenWith opens it.
    explicit CheckedStore(const zembrat::testing::TempDir& dir,
                          std::string_view name = "Zembrat.ini")
        : path_(dir / name) {
        store_.SetEventPoints(points_);
    }

    bool Open() {
        const bool ok = store_.Open(path_, DiskFile);
        Check();
        return ok;
    }
    bool OpenWith(std::string_view initial) {
        WriteFile(initial);
        return Open();
    }
    void WriteFile(std::string_view bytes) const {
        EXPECT_TRUE(platform::WriteWholeFile(path_, bytes));
    }

    class Access {
      public:
        explicit Access(CheckedStore& owner) : owner_(owner) {}
        ~Access() { owner_.Check(); }
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;
        ConfigStore* operator->() const { return &owner_.store_; }

      private:
        CheckedStore& owner_;
    };
    Access operator->() { return Access(*this); }

    // The store itself, for handing it to code that takes a store; check afterwards.
    ConfigStore& store() { return store_; }
    // The event points the store was given.
    StorePoints& points() { return points_; }
    const std::string& path() const { return path_; }
    std::string FileBytes() const { return zembrat::testing::ReadFileOrMissing(path_); }

    void Check() const {
        if (!Probe::HasFileHandle(store_)) return;  // nothing reaches the file then
        EXPECT_EQ(FileBytes(), Probe::ContentBytes(store_)) << "file and mirror differ";
    }

  private:
    std::string path_;
    StorePoints points_;
    ConfigStore store_;
};

}  // namespace zembrat::config::testing
