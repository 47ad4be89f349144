#pragma once

#include <cstdint>
#include <string>

#include "automation/object_holder.h"
#include "platform/datetime.h"

namespace zembrat::automation {

enum class VariantKind { Empty, Integer, Real, Boolean, Text, Bytes, DateTime, Object };

// The tagged value in which component members take and give values. Texts are GBK. The
// conversions give the empty value of the asked type when the value cannot be taken as it.
class VariantValue {
  public:
    VariantValue() = default;

    static VariantValue Integer(std::int64_t v);
    static VariantValue Real(double v);
    static VariantValue Boolean(bool v);
    static VariantValue Text(std::string gbk);
    static VariantValue Bytes(std::string bytes);
    static VariantValue Date(const platform::DateTime& v);
    static VariantValue Object(ObjectHolder v);

    VariantKind kind() const { return kind_; }
    bool empty() const { return kind_ == VariantKind::Empty; }

    // Integer: a real is truncated toward zero, a boolean is -1 or 0, a text is read as a
    // leading decimal number.
    std::int64_t AsInteger() const;
    double AsReal() const;
    // Boolean: a number is true when not zero; a text when it reads "True" or a non-zero number.
    bool AsBoolean() const;
    // Text: numbers in plain decimal, booleans as "True"/"False", bytes taken up to their first
    // zero byte.
    std::string AsText() const;
    // Bytes: only a byte value; anything else gives empty bytes.
    std::string AsBytes() const;
    platform::DateTime AsDate() const;
    // Object: only an object value; anything else gives an empty holder.
    ObjectHolder AsObject() const;

    void Clear();

    friend bool operator==(const VariantValue& a, const VariantValue& b);

  private:
    VariantKind kind_ = VariantKind::Empty;
    std::int64_t integer_ = 0;
    double real_ = 0;
    bool boolean_ = false;
    std::string string_;  // text or bytes
    platform::DateTime date_{};
    ObjectHolder object_;
};

}  // namespace zembrat::automation
