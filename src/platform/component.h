#pragma once

namespace zembrat::platform {

// Base of the stand-ins for the platform's scripting components (regular expressions, HTTP
// requests, file-system objects), so that one counted holder can hold any of them.
class Component {
  public:
    virtual ~Component() = default;

  protected:
    Component() = default;
    Component(const Component&) = default;
    Component& operator=(const Component&) = default;
};

}  // namespace zembrat::platform
