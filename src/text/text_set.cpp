#include "text/text_set.h"

#include <algorithm>

namespace zembrat::text {
namespace {

// kNone stands for "no index": the lowest of none is kNone, the highest of none is kNone too.
std::size_t Lowest(std::size_t a, std::size_t b) {
    return a == TextSet::kNone ? b : b == TextSet::kNone ? a : std::min(a, b);
}
std::size_t Highest(std::size_t a, std::size_t b) {
    return a == TextSet::kNone ? b : b == TextSet::kNone ? a : std::max(a, b);
}

}  // namespace

TextSet::TextSet(const std::vector<std::string_view>& texts) {
    nodes_.emplace_back();
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const std::string_view t = texts[index];
        if (t.empty()) continue;
        State at = kRoot;
        for (const char c : t) {
            const auto byte = static_cast<unsigned char>(c);
            State next = Child(at, byte);
            if (next == kRoot) {
                next = static_cast<State>(nodes_.size());
                Node node;
                node.depth = nodes_[at].depth + 1;
                node.byte = byte;
                if (at == kRoot) {
                    rootChild_[byte] = next;
                } else {
                    node.sibling = nodes_[at].child;
                    nodes_[at].child = next;
                }
                nodes_.push_back(node);
            }
            Node& n = nodes_[at];
            n.lowBegun = Lowest(n.lowBegun, index);
            n.highBegun = Highest(n.highBegun, index);
            at = next;
        }
        Node& end = nodes_[at];
        end.lowBegun = Lowest(end.lowBegun, index);
        end.highBegun = Highest(end.highBegun, index);
        if (end.text != kNone) repeated_ = true;
        end.text = Lowest(end.text, index);
        end.lowEnded = Lowest(end.lowEnded, index);
        end.highEnded = Highest(end.highEnded, index);
    }
    // The links, breadth first: a node's shorter piece is known before its own.
    std::vector<State> queue;
    queue.reserve(nodes_.size());
    for (const State child : rootChild_) {
        if (child != kRoot) queue.push_back(child);
    }
    for (std::size_t k = 0; k < queue.size(); ++k) {
        const State at = queue[k];
        const Node& node = nodes_[at];
        for (State child = node.child; child != kRoot; child = nodes_[child].sibling) {
            nodes_[child].fail = Step(node.fail, nodes_[child].byte);
            queue.push_back(child);
        }
        Node& n = nodes_[at];
        const Node& shorter = nodes_[n.fail];
        n.output = shorter.text != kNone ? n.fail : shorter.output;
        n.lowEnded = Lowest(n.lowEnded, shorter.lowEnded);
        n.highEnded = Highest(n.highEnded, shorter.highEnded);
    }
}

TextSet::State TextSet::Child(State state, unsigned char byte) const {
    if (state == kRoot) return rootChild_[byte];
    for (State child = nodes_[state].child; child != kRoot; child = nodes_[child].sibling) {
        if (nodes_[child].byte == byte) return child;
    }
    return kRoot;
}

TextSet::State TextSet::Step(State state, unsigned char byte) const {
    while (true) {
        const State next = Child(state, byte);
        if (next != kRoot || state == kRoot) return next;
        state = nodes_[state].fail;
    }
}

TextSet::State TextSet::Walk(std::string_view s) const {
    State state = kRoot;
    for (const char c : s) state = Step(state, static_cast<unsigned char>(c));
    return state;
}

}  // namespace zembrat::text
