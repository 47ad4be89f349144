#include "platform/messages.h"

#include <cstdio>
#include <utility>

#include "text/codec.h"

namespace zembrat::platform {
namespace {

MessageHook& Slot() {
    static MessageHook hook;
    return hook;
}

}  // namespace

MessageAnswer ShowMessageThroughHook(const MessageRequest& request) {
    if (MessageHook hook = Slot()) return hook(request);
    std::fprintf(stderr, "%s\n", text::Utf8FromGbk(request.text).c_str());
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

MessageHook SetMessageHook(MessageHook hook) { return std::exchange(Slot(), std::move(hook)); }

}  // namespace zembrat::platform
