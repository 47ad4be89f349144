#include "automation/collection_walker.h"

#include <utility>
#include <vector>

namespace zembrat::automation {

CollectionWalker::~CollectionWalker() {
    Release();
}

CollectionWalker::CollectionWalker(const CollectionWalker& other)
    : enumerator_(other.enumerator_), table_(other.table_) {}

CollectionWalker& CollectionWalker::operator=(const CollectionWalker& other) {
    if (this != &other) {
        ObjectHolder taken = other.enumerator_;  // taken before ours goes, in case they are one
        Release();
        enumerator_ = std::move(taken);
        table_ = other.table_;
    }
    return *this;
}

CollectionWalker::CollectionWalker(CollectionWalker&& other) noexcept
    : enumerator_(std::move(other.enumerator_)), table_(std::exchange(other.table_, nullptr)) {
    other.enumerator_.Release();
}

CollectionWalker& CollectionWalker::operator=(CollectionWalker&& other) noexcept {
    if (this != &other) {
        Release();
        enumerator_ = std::move(other.enumerator_);
        other.enumerator_.Release();
        table_ = std::exchange(other.table_, nullptr);
    }
    return *this;
}

bool CollectionWalker::Start(const ObjectHolder& collection) {
    Release();
    auto* source = collection.As<platform::ItemCollection>();
    ObjectHolder newEnum(source ? source->NewEnum() : nullptr);
    if (newEnum.empty()) return false;
    // The enumerator interface is asked of the object the collection handed out.
    const StatusCode query =
        newEnum.As<platform::ItemEnumerator>() ? kStatusOk : platform::kResultNoInterface;
    if (query != kStatusOk) return false;
    enumerator_ = newEnum;
    table_ = enumerator_.As<platform::ItemEnumerator>();
    RawReset();
    newEnum.Release();
    return true;
}

bool CollectionWalker::Next(VariantValue& element) {
    if (!Walking()) return false;
    element = VariantValue::Integer(0);
    int fetched = 0;
    RawNext(1, std::span<VariantValue>(&element, 1), fetched);
    return fetched == 1;
}

bool CollectionWalker::Reset() {
    return Walking() && RawReset() == kStatusOk;
}

bool CollectionWalker::Skip(int count) {
    return Walking() && RawSkip(count) == kStatusOk;
}

long CollectionWalker::Release() {
    long remaining = 0;
    if (Walking()) remaining = enumerator_.referenceCount() - 1;
    enumerator_.Release();
    table_ = nullptr;
    return remaining;
}

StatusCode CollectionWalker::RawNext(int count, std::span<VariantValue> elements, int& fetched) {
    fetched = 0;
    if (!Walking()) return kStatusNoWalk;
    if (count < 0 || static_cast<std::size_t>(count) > elements.size())
        return kStatusInvalidArgument;
    std::vector<platform::ComponentPtr> items(static_cast<std::size_t>(count));
    std::size_t delivered = 0;
    const StatusCode status = table_->Next(items, delivered);
    for (std::size_t i = 0; i < delivered; ++i)
        elements[i] = VariantValue::Object(ObjectHolder(items[i]));
    fetched = static_cast<int>(delivered);
    return status;
}

StatusCode CollectionWalker::RawSkip(int count) {
    if (!Walking()) return kStatusNoWalk;
    if (count < 0) return kStatusInvalidArgument;
    return table_->Skip(static_cast<std::size_t>(count));
}

StatusCode CollectionWalker::RawReset() {
    if (!Walking()) return kStatusNoWalk;
    return table_->Reset();
}

}  // namespace zembrat::automation
