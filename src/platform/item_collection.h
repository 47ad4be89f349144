// Ordered collections of component objects and their enumerators: what the file-system
// objects hand out for folders, files and drives. The program itself walks one of them (the
// files of the article folder, through automation::CollectionWalker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/component.h"

namespace zembrat::platform {

// Result codes of enumerator calls, numbered as the component platform numbers them.
using ResultCode = std::int32_t;
inline constexpr ResultCode kResultOk = 0;
inline constexpr ResultCode kResultFalse = 1;  // fewer elements than asked for
inline constexpr ResultCode kResultNoInterface = static_cast<ResultCode>(0x80004002u);
inline constexpr ResultCode kResultUnexpected = static_cast<ResultCode>(0x8000FFFFu);
inline constexpr ResultCode kResultInvalidArgument = static_cast<ResultCode>(0x80070057u);

using ComponentPtr = std::shared_ptr<Component>;

// Walks an ordered sequence of items one or more at a time. Copies made by Clone share the
// sequence but have their own position.
class ItemEnumerator : public Component {
  public:
    explicit ItemEnumerator(std::shared_ptr<const std::vector<ComponentPtr>> items);

    // Hands out up to out.size() items from the current position; fetched tells how many.
    // kResultOk when all were delivered, kResultFalse when the sequence ran out first.
    ResultCode Next(std::span<ComponentPtr> out, std::size_t& fetched);
    // kResultOk when count items were passed over, kResultFalse when the sequence ran out.
    ResultCode Skip(std::size_t count);
    ResultCode Reset();
    std::shared_ptr<ItemEnumerator> Clone() const;

  private:
    std::shared_ptr<const std::vector<ComponentPtr>> items_;
    std::size_t position_ = 0;
};

// An ordered, fixed sequence of items (folders, files or drives), taken when it was made.
class ItemCollection : public Component {
  public:
    explicit ItemCollection(std::vector<ComponentPtr> items);

    std::size_t Count() const;
    // The item at index, or nullptr past the end.
    ComponentPtr Item(std::size_t index) const;
    // A new enumerator at the first item.
    ComponentPtr NewEnum() const;

  private:
    std::shared_ptr<const std::vector<ComponentPtr>> items_;
};

}  // namespace zembrat::platform
