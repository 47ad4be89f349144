#include "platform/event_points.h"

#include <cstdio>

#include "text/codec.h"

namespace zembrat::platform {

MessageAnswer EventPoints::ShowMessage(const MessageRequest& request) {
    std::fprintf(stderr, "%s\n", text::Utf8FromGbk(request.text).c_str());
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

EventPoints& NoEventPoints() {
    static EventPoints points;
    return points;
}

}  // namespace zembrat::platform
