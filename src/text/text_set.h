// Many texts looked for at once: a trie of the texts with the links of the Aho-Corasick
// automaton, so that a walk over a text finds every occurrence of every one of them in time
// linear in what is walked (and what is found).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zembrat::text {

class TextSet {
  public:
    using State = std::uint32_t;
    static constexpr State kRoot = 0;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // The texts, by their index in the list; an empty text is left out. The views must outlive
    // the set only while it is built. At most 2^32 - 2 texts and bytes in all.
    explicit TextSet(const std::vector<std::string_view>& texts);

    // The state after one more byte: the longest piece ending there that begins a text.
    State Step(State state, unsigned char byte) const;
    // The state after a whole text from the root.
    State Walk(std::string_view s) const;
    // How long the piece a state stands for is.
    std::size_t Depth(State state) const { return nodes_[state].depth; }
    // The next shorter piece ending at the same place that begins a text (the root for none).
    State Shorter(State state) const { return links_[state].fail; }

    // Of the texts that are the state's piece: the first index, kNone for none. Two equal texts
    // of the list show in Repeated().
    std::size_t TextAt(State state) const { return Index(nodes_[state].text); }
    bool Repeated() const { return repeated_; }
    // Whether the state's piece is a text or ends with one: only then does ShorterText or TextAt
    // find one.
    bool EndsAText(State state) const { return links_[state].ends; }
    // The next shorter state ending at the same place that is a whole text (the root for none).
    State ShorterText(State state) const { return nodes_[state].output; }

    // Of the texts a piece ends (it and the texts it ends with): the lowest and the highest index.
    std::size_t LowestEnded(State state) const { return Index(nodes_[state].lowEnded); }
    std::size_t HighestEnded(State state) const { return Index(nodes_[state].highEnded); }
    // Of the texts that begin with the state's piece: the lowest and the highest index.
    std::size_t LowestBegun(State state) const { return Index(nodes_[state].lowBegun); }
    std::size_t HighestBegun(State state) const { return Index(nodes_[state].highBegun); }

  private:
    // Indexes are kept in 32 bits (kNoIndex for none): a node is small, and the walks stay in
    // the caches longer.
    static constexpr std::uint32_t kNoIndex = static_cast<std::uint32_t>(-1);
    static std::size_t Index(std::uint32_t i) { return i == kNoIndex ? kNone : i; }
    // The nodes are numbered breadth first and, at each depth, in the order of the texts sorted:
    // a node's children stand one after the other (bytes ascending), and the links are made in
    // one pass over the nodes in memory order. What a walk reads at each step is kept apart from
    // the rest, so that it stays in the caches longer.
    struct Link {
        State child = 0;  // the first child (0: none)
        std::uint32_t children = 0;
        State fail = 0;
        unsigned char byte = 0;
        bool ends = false;  // the piece is a text, or ends with one
    };
    struct Node {
        State output = 0;
        std::uint32_t depth = 0;
        std::uint32_t text = kNoIndex;
        std::uint32_t lowEnded = kNoIndex, highEnded = kNoIndex, lowBegun = kNoIndex,
                      highBegun = kNoIndex;
    };
    State Child(State state, unsigned char byte) const;

    std::vector<Link> links_;
    std::vector<Node> nodes_;
    State rootChild_[256] = {};
    bool repeated_ = false;
};

}  // namespace zembrat::text
