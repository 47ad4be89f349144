// Walking a collection of component objects one element at a time.
//
// Start asks the collection for its enumerator; Next then hands out one element per call as an
// object variant. A walk is in progress from a successful Start until Release (explicit, by the
// next Start, or when the walker goes). Elements come in the collection's own order.
#pragma once

#include <cstdint>
#include <span>

#include "automation/object_holder.h"
#include "automation/variant_value.h"
#include "platform/item_collection.h"

namespace zembrat::automation {

// Result codes of the raw forms: kStatusOk is success.
using StatusCode = platform::ResultCode;
inline constexpr StatusCode kStatusOk = platform::kResultOk;
inline constexpr StatusCode kStatusFalse = platform::kResultFalse;
inline constexpr StatusCode kStatusNoWalk = platform::kResultUnexpected;
inline constexpr StatusCode kStatusInvalidArgument = platform::kResultInvalidArgument;

class CollectionWalker {
  public:
    CollectionWalker() = default;
    ~CollectionWalker();

    // A copy shares the enumerator, and its position, under a reference of its own, so each
    // walker's Release gives back exactly the reference it holds.
    CollectionWalker(const CollectionWalker& other);
    CollectionWalker& operator=(const CollectionWalker& other);
    CollectionWalker(CollectionWalker&& other) noexcept;
    CollectionWalker& operator=(CollectionWalker&& other) noexcept;

    // Ends any walk in progress, then begins one over the collection. False when the object is
    // no collection (or an empty holder); the walk then yields nothing.
    bool Start(const ObjectHolder& collection);
    // False at once without a walk in progress, leaving element untouched. Otherwise element is
    // set to the integer 0 and receives the next element; true when one was delivered.
    bool Next(VariantValue& element);
    bool Reset();
    bool Skip(int count);
    // The references to the enumerator still held elsewhere after this walker's is given back;
    // 0 without a walk in progress. The walk is over in every case.
    long Release();

    bool Walking() const { return table_ != nullptr; }

    // The enumerator's own calls. RawNext fills up to count elements from the front of elements;
    // a count below zero or beyond the room given is refused with kStatusInvalidArgument. Every
    // raw call without a walk in progress answers kStatusNoWalk.
    StatusCode RawNext(int count, std::span<VariantValue> elements, int& fetched);
    StatusCode RawSkip(int count);
    StatusCode RawReset();

  private:
    ObjectHolder enumerator_;
    // The enumerator's calls; none while no walk is in progress.
    platform::ItemEnumerator* table_ = nullptr;
};

}  // namespace zembrat::automation
