// The message box as the core sees it. The core never includes a toolkit: it asks through this
// hook, which the application points at its ShowMessage.
#pragma once

#include <functional>
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

using MessageHook = std::function<MessageAnswer(const MessageRequest&)>;

// Without a hook the message goes to standard error and the answer is Ok (or No for a question).
MessageAnswer ShowMessageThroughHook(const MessageRequest& request);
MessageHook SetMessageHook(MessageHook hook);

}  // namespace zembrat::platform
