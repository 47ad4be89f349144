#include "automation/variant_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "automation/object_holder.h"
#include "text/codec.h"

namespace zembrat::automation {
namespace {
using namespace text::literals;

class Counted : public platform::Component {
  public:
    explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
    ~Counted() override { --*alive_; }

  private:
    int* alive_;
};

class Other : public platform::Component {};

TEST(ObjectHolder, CopiesShareTheObjectAndTheLastOneReleasesIt) {
    int alive = 0;
    ObjectHolder empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.As<Counted>(), nullptr);
    {
        ObjectHolder first = ObjectHolder::Make<Counted>(&alive);
        EXPECT_EQ(alive, 1);
        EXPECT_TRUE(first);
        EXPECT_EQ(first.referenceCount(), 1);
        ObjectHolder second = first;
        EXPECT_EQ(first.referenceCount(), 2);
        EXPECT_EQ(second, first);
        EXPECT_EQ(second.As<Counted>(), first.As<Counted>());
        EXPECT_NE(second.As<Counted>(), nullptr);
        EXPECT_EQ(second.As<Other>(), nullptr);  // another kind
        EXPECT_FALSE(second == ObjectHolder::Make<Counted>(&alive));
        first.Release();
        EXPECT_TRUE(first.empty());
        EXPECT_EQ(second.referenceCount(), 1);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

TEST(VariantValue, NumbersConvertAsTheAutomationVariantDoes) {
    const VariantValue i = VariantValue::Integer(-42);
    EXPECT_EQ(i.kind(), VariantKind::Integer);
    EXPECT_EQ(i.AsInteger(), -42);
    EXPECT_EQ(i.AsReal(), -42.0);
    EXPECT_TRUE(i.AsBoolean());
    EXPECT_EQ(i.AsText(), "-42");
    EXPECT_FALSE(VariantValue::Integer(0).AsBoolean());

    // Reals are cut toward zero; values no integer holds give 0.
    EXPECT_EQ(VariantValue::Real(2.9).AsInteger(), 2);
    EXPECT_EQ(VariantValue::Real(-2.9).AsInteger(), -2);
    EXPECT_EQ(VariantValue::Real(1e300).AsInteger(), 0);
    EXPECT_EQ(VariantValue::Real(std::numeric_limits<double>::quiet_NaN()).AsInteger(), 0);
    EXPECT_EQ(VariantValue::Real(0.5).AsText(), "0.5");
    EXPECT_TRUE(VariantValue::Real(0.5).AsBoolean());

    // True is -1.
    EXPECT_EQ(VariantValue::Boolean(true).AsInteger(), -1);
    EXPECT_EQ(VariantValue::Boolean(false).AsInteger(), 0);
    EXPECT_EQ(VariantValue::Boolean(true).AsText(), "True");
    EXPECT_EQ(VariantValue::Boolean(false).AsText(), "False");
}

TEST(VariantValue, TextsAndBytes) {
    const VariantValue t = VariantValue::Text("中文"_gbk);
    EXPECT_EQ(t.kind(), VariantKind::Text);
    EXPECT_EQ(t.AsText(), "中文"_gbk);
    EXPECT_EQ(t.AsBytes(), "");  // only a byte value gives bytes
    EXPECT_EQ(VariantValue::Text("12abc").AsInteger(), 12);
    EXPECT_EQ(VariantValue::Text("abc").AsInteger(), 0);
    EXPECT_EQ(VariantValue::Text("2.5").AsReal(), 2.5);
    EXPECT_TRUE(VariantValue::Text("TRUE").AsBoolean());
    EXPECT_TRUE(VariantValue::Text("3").AsBoolean());
    EXPECT_FALSE(VariantValue::Text("0").AsBoolean());
    EXPECT_FALSE(VariantValue::Text("yes").AsBoolean());

    const std::string raw("ab\0cd", 5);
    const VariantValue b = VariantValue::Bytes(raw);
    EXPECT_EQ(b.kind(), VariantKind::Bytes);
    EXPECT_EQ(b.AsBytes(), raw);
    EXPECT_EQ(b.AsText(), "ab");            // bytes as text end at the first zero byte
    EXPECT_NE(b, VariantValue::Text(raw));  // same bytes, other kind
    EXPECT_EQ(b, VariantValue::Bytes(raw));
}

TEST(VariantValue, EmptyDatesObjectsAndClearing) {
    const VariantValue empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.AsInteger(), 0);
    EXPECT_EQ(empty.AsText(), "");
    EXPECT_FALSE(empty.AsBoolean());
    EXPECT_TRUE(empty.AsObject().empty());
    EXPECT_EQ(empty, VariantValue());

    const platform::DateTime when{2024, 2, 29, 23, 59, 58};
    const VariantValue d = VariantValue::Date(when);
    EXPECT_EQ(d.AsDate(), when);
    EXPECT_EQ(VariantValue::Text("x").AsDate(), platform::DateTime{});

    int alive = 0;
    VariantValue o = VariantValue::Object(ObjectHolder::Make<Counted>(&alive));
    EXPECT_EQ(o.kind(), VariantKind::Object);
    {
        const ObjectHolder held = o.AsObject();
        EXPECT_NE(held.As<Counted>(), nullptr);
        EXPECT_EQ(held.referenceCount(), 2);
    }
    EXPECT_EQ(VariantValue::Integer(1).AsObject(), ObjectHolder());
    // Clearing empties the value and lets go of its object.
    o.Clear();
    EXPECT_TRUE(o.empty());
    EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace zembrat::automation
