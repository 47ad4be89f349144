#include "automation/variant_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "text/gbk.h"

namespace zembrat::automation {

VariantValue VariantValue::Integer(std::int64_t v) {
    VariantValue r;
    r.kind_ = VariantKind::Integer;
    r.integer_ = v;
    return r;
}

VariantValue VariantValue::Real(double v) {
    VariantValue r;
    r.kind_ = VariantKind::Real;
    r.real_ = v;
    return r;
}

VariantValue VariantValue::Boolean(bool v) {
    VariantValue r;
    r.kind_ = VariantKind::Boolean;
    r.boolean_ = v;
    return r;
}

VariantValue VariantValue::Text(std::string gbk) {
    VariantValue r;
    r.kind_ = VariantKind::Text;
    r.string_ = std::move(gbk);
    return r;
}

VariantValue VariantValue::Bytes(std::string bytes) {
    VariantValue r;
    r.kind_ = VariantKind::Bytes;
    r.string_ = std::move(bytes);
    return r;
}

VariantValue VariantValue::Date(const platform::DateTime& v) {
    VariantValue r;
    r.kind_ = VariantKind::DateTime;
    r.date_ = v;
    return r;
}

VariantValue VariantValue::Object(ObjectHolder v) {
    VariantValue r;
    r.kind_ = VariantKind::Object;
    r.object_ = std::move(v);
    return r;
}

std::int64_t VariantValue::AsInteger() const {
    switch (kind_) {
        case VariantKind::Integer:
            return integer_;
        case VariantKind::Real:
            if (!std::isfinite(real_) || std::fabs(real_) >= 9.2e18) return 0;
            return static_cast<std::int64_t>(std::trunc(real_));
        case VariantKind::Boolean:
            return boolean_ ? -1 : 0;
        case VariantKind::Text:
            return std::strtoll(string_.c_str(), nullptr, 10);
        default:
            return 0;
    }
}

double VariantValue::AsReal() const {
    switch (kind_) {
        case VariantKind::Integer:
            return static_cast<double>(integer_);
        case VariantKind::Real:
            return real_;
        case VariantKind::Boolean:
            return boolean_ ? -1.0 : 0.0;
        case VariantKind::Text:
            return std::strtod(string_.c_str(), nullptr);
        default:
            return 0;
    }
}

bool VariantValue::AsBoolean() const {
    switch (kind_) {
        case VariantKind::Integer:
            return integer_ != 0;
        case VariantKind::Real:
            return real_ != 0;
        case VariantKind::Boolean:
            return boolean_;
        case VariantKind::Text:
            return text::EqualsNoCase(string_, "true") ||
                   std::strtod(string_.c_str(), nullptr) != 0;
        default:
            return false;
    }
}

std::string VariantValue::AsText() const {
    switch (kind_) {
        case VariantKind::Integer:
            return std::to_string(integer_);
        case VariantKind::Real: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.15g", real_);
            return buffer;
        }
        case VariantKind::Boolean:
            return boolean_ ? "True" : "False";
        case VariantKind::Text:
            return string_;
        case VariantKind::Bytes:
            return text::TextOf(string_);
        default:
            return {};
    }
}

std::string VariantValue::AsBytes() const {
    return kind_ == VariantKind::Bytes ? string_ : std::string();
}

platform::DateTime VariantValue::AsDate() const {
    return kind_ == VariantKind::DateTime ? date_ : platform::DateTime{};
}

ObjectHolder VariantValue::AsObject() const {
    return kind_ == VariantKind::Object ? object_ : ObjectHolder();
}

void VariantValue::Clear() {
    *this = VariantValue();
}

bool operator==(const VariantValue& a, const VariantValue& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case VariantKind::Empty:
            return true;
        case VariantKind::Integer:
            return a.integer_ == b.integer_;
        case VariantKind::Real:
            return a.real_ == b.real_;
        case VariantKind::Boolean:
            return a.boolean_ == b.boolean_;
        case VariantKind::Text:
        case VariantKind::Bytes:
            return a.string_ == b.string_;
        case VariantKind::DateTime:
            return a.date_ == b.date_;
        case VariantKind::Object:
            return a.object_ == b.object_;
    }
    return false;
}

}  // namespace zembrat::automation
