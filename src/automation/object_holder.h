#pragma once

#include <memory>
#include <utility>

#include "platform/component.h"

namespace zembrat::automation {

// One counted reference to a component object, or none. Copying adds a reference, destroying
// releases it. A call through an empty holder yields the empty value of its result; the
// wrappers test for that with empty() or As<T>() == nullptr.
class ObjectHolder {
  public:
    ObjectHolder() = default;
    explicit ObjectHolder(std::shared_ptr<platform::Component> object)
        : object_(std::move(object)) {}

    template <class T, class... Args>
    static ObjectHolder Make(Args&&... args) {
        return ObjectHolder(std::make_shared<T>(std::forward<Args>(args)...));
    }

    bool empty() const { return !object_; }
    explicit operator bool() const { return !empty(); }

    // The object as the component kind T, or nullptr when the holder is empty or holds another
    // kind.
    template <class T>
    T* As() const {
        return dynamic_cast<T*>(object_.get());
    }

    const std::shared_ptr<platform::Component>& object() const { return object_; }
    long referenceCount() const { return object_.use_count(); }

    void Release() { object_.reset(); }

    friend bool operator==(const ObjectHolder& a, const ObjectHolder& b) {
        return a.object_ == b.object_;
    }

  private:
    std::shared_ptr<platform::Component> object_;
};

}  // namespace zembrat::automation
