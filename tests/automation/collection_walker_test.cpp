#include "automation/collection_walker.h"

#include <gtest/gtest.h>

#include "automation/file_system.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::automation {
namespace {
using namespace text::literals;
using testing::TempDir;

std::string NameOf(const VariantValue& element) {
    FileItem file;
    file.Attach(element.AsObject());
    return file.Name();
}

// A folder holding the given files, and its "Files" collection.
struct FilesOf {
    explicit FilesOf(std::initializer_list<const char*> names) {
        for (const char* name : names) dir.Write(name, name);
        collection = FileSystem().GetFolder(dir.path()).Files();
    }
    TempDir dir;
    ObjectHolder collection;
};

TEST(CollectionWalker, WithoutAWalkNothingIsHandedOut) {
    CollectionWalker walker;
    VariantValue element = VariantValue::Text("untouched");
    EXPECT_FALSE(walker.Next(element));
    EXPECT_EQ(element, VariantValue::Text("untouched"));
    EXPECT_FALSE(walker.Reset());
    EXPECT_FALSE(walker.Skip(0));
    EXPECT_EQ(walker.Release(), 0);
    int fetched = 7;
    EXPECT_EQ(walker.RawNext(1, std::span<VariantValue>(&element, 1), fetched), kStatusNoWalk);
    EXPECT_EQ(fetched, 0);
    EXPECT_EQ(walker.RawSkip(1), kStatusNoWalk);
    EXPECT_EQ(walker.RawReset(), kStatusNoWalk);

    // Neither an empty holder nor an object that is no collection starts a walk.
    TempDir dir;
    EXPECT_FALSE(walker.Start(ObjectHolder()));
    EXPECT_FALSE(walker.Start(FileSystem().GetFolder(dir.path()).object()));
    EXPECT_FALSE(walker.Next(element));
    EXPECT_EQ(element, VariantValue::Text("untouched"));
}

TEST(CollectionWalker, HandsOutEachElementInOrderThenStops) {
    FilesOf files({"b.htm", "a.htm", "C.htm"});
    CollectionWalker walker;
    ASSERT_TRUE(walker.Start(files.collection));
    VariantValue element;
    std::vector<std::string> names;
    while (walker.Next(element)) {
        ASSERT_EQ(element.kind(), VariantKind::Object);
        names.push_back(NameOf(element));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.htm", "b.htm", "C.htm"}));
    // After the last one the element holds the integer 0 it was set to.
    EXPECT_EQ(element, VariantValue::Integer(0));
    EXPECT_FALSE(walker.Next(element));

    // An empty collection starts, and ends at the first step.
    FilesOf none({});
    ASSERT_TRUE(walker.Start(none.collection));
    EXPECT_FALSE(walker.Next(element));
    EXPECT_EQ(element, VariantValue::Integer(0));
}

TEST(CollectionWalker, SecondStartEndsTheFirstWalk) {
    FilesOf first({"1.txt", "2.txt"});
    FilesOf second({"x.txt"});
    CollectionWalker walker;
    ASSERT_TRUE(walker.Start(first.collection));
    VariantValue element;
    ASSERT_TRUE(walker.Next(element));
    CollectionWalker watcher = walker;  // shares the first enumerator
    ASSERT_TRUE(walker.Start(second.collection));
    // The first walk's enumerator was given back: only the watcher still holds it.
    EXPECT_EQ(watcher.Release(), 0);
    ASSERT_TRUE(walker.Next(element));
    EXPECT_EQ(NameOf(element), "x.txt");
    EXPECT_FALSE(walker.Next(element));
    // A failed start ends the walk as well.
    EXPECT_FALSE(walker.Start(ObjectHolder()));
    EXPECT_FALSE(walker.Walking());
}

TEST(CollectionWalker, SkipsResetsAndTakesSeveralAtOnce) {
    FilesOf files({"a", "b", "c", "d"});
    CollectionWalker walker;
    ASSERT_TRUE(walker.Start(files.collection));
    VariantValue element;
    EXPECT_TRUE(walker.Skip(1));
    ASSERT_TRUE(walker.Next(element));
    EXPECT_EQ(NameOf(element), "b");

    VariantValue several[3];
    int fetched = 0;
    EXPECT_EQ(walker.RawNext(3, several, fetched), kStatusFalse);  // only two were left
    EXPECT_EQ(fetched, 2);
    EXPECT_EQ(NameOf(several[0]), "c");
    EXPECT_EQ(NameOf(several[1]), "d");
    EXPECT_TRUE(several[2].empty());
    EXPECT_FALSE(walker.Skip(1));

    EXPECT_TRUE(walker.Reset());
    EXPECT_EQ(walker.RawNext(2, several, fetched), kStatusOk);
    EXPECT_EQ(fetched, 2);
    EXPECT_EQ(NameOf(several[1]), "b");
    EXPECT_EQ(walker.RawSkip(5), kStatusFalse);
    EXPECT_EQ(walker.RawReset(), kStatusOk);
    // More than the room given, or fewer than none, is refused without touching the walk.
    EXPECT_EQ(walker.RawNext(4, several, fetched), kStatusInvalidArgument);
    EXPECT_EQ(fetched, 0);
    EXPECT_EQ(walker.RawNext(-1, several, fetched), kStatusInvalidArgument);
    EXPECT_EQ(walker.RawSkip(-1), kStatusInvalidArgument);
    EXPECT_FALSE(walker.Skip(-1));
    ASSERT_TRUE(walker.Next(element));
    EXPECT_EQ(NameOf(element), "a");
}

TEST(CollectionWalker, CopiesReleaseOnlyTheirOwnReference) {
    FilesOf files({"a", "b", "c"});
    auto original = std::make_unique<CollectionWalker>();
    ASSERT_TRUE(original->Start(files.collection));
    CollectionWalker copy = *original;
    CollectionWalker assigned;
    assigned = copy;
    CollectionWalker& alias = assigned;
    assigned = alias;  // onto itself: keeps its reference
    VariantValue element;
    ASSERT_TRUE(original->Next(element));
    ASSERT_TRUE(copy.Next(element));  // one enumerator, one position
    EXPECT_EQ(NameOf(element), "b");
    original.reset();  // its end gives back its reference only
    ASSERT_TRUE(assigned.Next(element));
    EXPECT_EQ(NameOf(element), "c");
    EXPECT_EQ(copy.Release(), 1);
    EXPECT_EQ(copy.Release(), 0);  // nothing left to give back
    EXPECT_FALSE(copy.Next(element));

    CollectionWalker moved = std::move(assigned);
    EXPECT_FALSE(assigned.Walking());
    EXPECT_TRUE(moved.Walking());
    EXPECT_EQ(moved.Release(), 0);
}

}  // namespace
}  // namespace zembrat::automation
