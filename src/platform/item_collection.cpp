#include "platform/item_collection.h"

#include <utility>

namespace zembrat::platform {

ItemEnumerator::ItemEnumerator(std::shared_ptr<const std::vector<ComponentPtr>> items)
    : items_(items ? std::move(items) : std::make_shared<const std::vector<ComponentPtr>>()) {}

ResultCode ItemEnumerator::Next(std::span<ComponentPtr> out, std::size_t& fetched) {
    fetched = 0;
    while (fetched < out.size() && position_ < items_->size())
        out[fetched++] = (*items_)[position_++];
    return fetched == out.size() ? kResultOk : kResultFalse;
}

ResultCode ItemEnumerator::Skip(std::size_t count) {
    const std::size_t left = items_->size() - position_;
    if (count <= left) {
        position_ += count;
        return kResultOk;
    }
    position_ = items_->size();
    return kResultFalse;
}

ResultCode ItemEnumerator::Reset() {
    position_ = 0;
    return kResultOk;
}

std::shared_ptr<ItemEnumerator> ItemEnumerator::Clone() const {
    auto copy = std::make_shared<ItemEnumerator>(items_);
    copy->position_ = position_;
    return copy;
}

ItemCollection::ItemCollection(std::vector<ComponentPtr> items)
    : items_(std::make_shared<const std::vector<ComponentPtr>>(std::move(items))) {}

std::size_t ItemCollection::Count() const {
    return items_->size();
}

ComponentPtr ItemCollection::Item(std::size_t index) const {
    return index < items_->size() ? (*items_)[index] : nullptr;
}

ComponentPtr ItemCollection::NewEnum() const {
    return std::make_shared<ItemEnumerator>(items_);
}

}  // namespace zembrat::platform
