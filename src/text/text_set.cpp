#include "text/text_set.h"

#include <algorithm>
#include <string>

namespace zembrat::text {
namespace {

constexpr std::uint32_t kNoIndex = static_cast<std::uint32_t>(-1);

// kNoIndex stands for "no index": the lowest of none is none, the highest of none too.
std::uint32_t Lowest(std::uint32_t a, std::uint32_t b) {
    return a == kNoIndex ? b : b == kNoIndex ? a : std::min(a, b);
}
std::uint32_t Highest(std::uint32_t a, std::uint32_t b) {
    return a == kNoIndex ? b : b == kNoIndex ? a : std::max(a, b);
}

}  // namespace

TextSet::TextSet(const std::vector<std::string_view>& texts) {
    std::size_t bytes = 1;
    for (const std::string_view t : texts) bytes += t.size();
    links_.reserve(bytes);
    nodes_.reserve(bytes);
    links_.emplace_back();
    nodes_.emplace_back();
    // The texts sorted, each with the node it has reached; the trie is made one depth after the
    // other, the texts that end dropping out.
    struct Reach {
        std::uint32_t index;
        State node;
        std::string_view text;  // in pool, below
    };
    std::vector<Reach> active;
    active.reserve(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) {
        if (!texts[k].empty()) active.push_back({static_cast<std::uint32_t>(k), kRoot, texts[k]});
    }
    std::sort(active.begin(), active.end(),
              [](const Reach& a, const Reach& b) { return a.text < b.text; });
    // The texts copied one after the other in that order: each depth reads them in memory order.
    std::string pool;
    pool.reserve(bytes);
    for (const Reach& r : active) pool += r.text;
    for (std::size_t k = 0, at = 0; k < active.size(); ++k) {
        active[k].text = std::string_view(pool).substr(at, active[k].text.size());
        at += active[k].text.size();
    }
    for (std::size_t depth = 0; !active.empty(); ++depth) {
        std::size_t kept = 0;
        State last = kRoot, lastParent = kRoot;
        unsigned char lastByte = 0;
        for (const Reach& r : active) {
            const std::string_view t = r.text;
            const auto byte = static_cast<unsigned char>(t[depth]);
            // Sorted, the texts that share a node and its next byte stand together.
            if (last == kRoot || r.node != lastParent || byte != lastByte) {
                last = static_cast<State>(nodes_.size());
                Node node;
                node.depth = static_cast<std::uint32_t>(depth + 1);
                nodes_.push_back(node);
                Link link;
                link.byte = byte;
                links_.push_back(link);
                Link& parent = links_[r.node];
                if (parent.children++ == 0) parent.child = last;
                if (r.node == kRoot) rootChild_[byte] = last;
                lastParent = r.node;
                lastByte = byte;
            }
            Node& parent = nodes_[r.node];
            parent.lowBegun = Lowest(parent.lowBegun, r.index);
            parent.highBegun = Highest(parent.highBegun, r.index);
            Node& n = nodes_[last];
            if (t.size() == depth + 1) {
                n.lowBegun = Lowest(n.lowBegun, r.index);
                n.highBegun = Highest(n.highBegun, r.index);
                if (n.text != kNoIndex) repeated_ = true;
                n.text = Lowest(n.text, r.index);
                n.lowEnded = Lowest(n.lowEnded, r.index);
                n.highEnded = Highest(n.highEnded, r.index);
            } else {
                active[kept++] = {r.index, last, t};
            }
        }
        active.resize(kept);
    }
    // The links, in node order (breadth first): a node's shorter piece is known before its own;
    // the root's children link to the root.
    for (State at = 1; at < nodes_.size(); ++at) {
        Link& l = links_[at];
        Node& n = nodes_[at];
        const Node& shorter = nodes_[l.fail];
        n.output = shorter.text != kNoIndex ? l.fail : shorter.output;
        l.ends = n.text != kNoIndex || n.output != kRoot;
        n.lowEnded = Lowest(n.lowEnded, shorter.lowEnded);
        n.highEnded = Highest(n.highEnded, shorter.highEnded);
        for (State child = l.child; child < l.child + l.children; ++child)
            links_[child].fail = Step(l.fail, links_[child].byte);
    }
}

TextSet::State TextSet::Child(State state, unsigned char byte) const {
    if (state == kRoot) return rootChild_[byte];
    const Link& l = links_[state];
    for (State child = l.child; child < l.child + l.children; ++child) {
        const unsigned char b = links_[child].byte;
        if (b == byte) return child;
        if (b > byte) break;
    }
    return kRoot;
}

TextSet::State TextSet::Step(State state, unsigned char byte) const {
    while (true) {
        const State next = Child(state, byte);
        if (next != kRoot || state == kRoot) return next;
        state = links_[state].fail;
    }
}

TextSet::State TextSet::Walk(std::string_view s) const {
    State state = kRoot;
    for (const char c : s) state = Step(state, static_cast<unsigned char>(c));
    return state;
}

}  // namespace zembrat::text
