// Calls made into the store from event handlers while another call is running.
#include <gtest/gtest.h>

#include "checked_store.h"

namespace zembrat::config {
namespace {

using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::TempDir;

TEST(Reentrancy, AWriteFromAnEventHandlerIsQueuedAndDoneBeforeTheOuterCallReturns) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith("[S]\r\nk=1"));
    ConfigStore& store = s.store();
    int calls = 0;
    std::vector<StoreResult> inner;
    std::size_t queuedDuringHandler = 0;
    bool busyDuringHandler = false;
    s.points().onEvents = [&] {
        if (++calls != 1) return;
        busyDuringHandler = Probe::Busy(store);
        inner.push_back(store.SetValue("S", "from", "handler"));
        inner.push_back(store.RenameKey("S", "k", "key"));
        inner.push_back(store.DeleteEntry("S", "gone"));
        inner.push_back(store.ProcessPending());  // must not run the queue a second time
        queuedDuringHandler = Probe::PendingQueue(store).size();
        // Reads are not queued: they see the mirror as it is.
        inner.push_back(store.GetValue("S", "k") == "1" ? StoreResult::kDone
                                                        : StoreResult::kFailed);
    };
    EXPECT_EQ(s->SetValue("S", "k", "2"), StoreResult::kDone);
    EXPECT_TRUE(busyDuringHandler);
    EXPECT_EQ(inner, (std::vector<StoreResult>{StoreResult::kQueued, StoreResult::kQueued,
                                               StoreResult::kQueued, StoreResult::kQueued,
                                               StoreResult::kDone}));
    EXPECT_EQ(queuedDuringHandler, 4u);  // the running item and the three queued behind it
    EXPECT_FALSE(Probe::Busy(store));
    EXPECT_TRUE(Probe::PendingQueue(store).empty());
    // The outer change, then the queued ones in order.
    EXPECT_EQ(s.FileBytes(), Lines({"[S]", "from=handler", "key=2"}));
    EXPECT_EQ(store.ProcessPending(), StoreResult::kFailed);  // nothing left to do
}

TEST(Reentrancy, ATypedWriteQueuedBehindABusyStoreSaysQueuedAndIsDone) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    ConfigStore& store = s.store();
    store.SetSection("S");
    WriteResult innerResult = WriteResult::kFailed;
    int calls = 0;
    s.points().onEvents = [&] {
        if (++calls == 1) innerResult = store.WriteText("inner", "x");
    };
    EXPECT_EQ(s->WriteText("outer", "y"), WriteResult::kWritten);
    EXPECT_EQ(innerResult, WriteResult::kQueued);
    EXPECT_EQ(s->ReadText("inner"), "x");
    EXPECT_EQ(s.FileBytes(), Lines({"[S]", "inner=x", "outer=y"}));
}

TEST(Reentrancy, EventsAreProcessedAtEachSearchRoundAndEachListedLine) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "k=1", "j=2", "[T]"})));
    int calls = 0;
    s.points().onEvents = [&] { ++calls; };
    s->GetValue("S", "k");
    EXPECT_EQ(calls, 1);
    calls = 0;
    s->SetValue("S", "k", "3");  // found at once
    EXPECT_EQ(calls, 1);
    calls = 0;
    s->SetValue("N", "k", "v");  // append the header, insert the key, fill it in
    EXPECT_EQ(calls, 3);
    calls = 0;
    std::vector<std::string> out;
    s->ListKeys(out);
    EXPECT_EQ(calls, 6);  // one per line
    calls = 0;
    s->ListSections(out);
    EXPECT_EQ(calls, 6);
    calls = 0;
    s->SectionsWithKey("k", out);
    EXPECT_EQ(calls, 2);  // one per occurrence
}

TEST(Reentrancy, AHandlerReplacingTheContentDuringAListingDoesNoHarm) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "k=1", "[T]", "k=2", "[U]", "k=3"})));
    ConfigStore& store = s.store();
    int calls = 0;
    s.points().onEvents = [&] {
        if (++calls == 1) store.SetContent("x");
    };
    std::vector<std::string> names;
    EXPECT_EQ(store.SectionsWithKey("k", names), 3);  // the content as it was when called
    s.Check();
    EXPECT_EQ(s.FileBytes(), "x");
}

}  // namespace
}  // namespace zembrat::config
