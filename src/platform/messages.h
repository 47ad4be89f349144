// The message box as the core sees it: what it asks and the answers. The core never includes a
// toolkit; it asks through platform::EventPoints::ShowMessage.
#pragma once

#include <string>

namespace zembrat::platform {

enum class MessageButtons { Ok, YesNo };

// The answers of a message box, numbered as the platform numbers them.
enum class MessageAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageRequest {
    std::string text;   // GBK
    std::string title;  // GBK; empty: the default title "信息："
    MessageButtons buttons = MessageButtons::Ok;
    bool warning = false;      // show a warning icon
    bool systemModal = false;  // stays above every window
};

}  // namespace zembrat::platform
