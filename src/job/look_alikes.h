// Look-alike answers: different addresses of one host that answered byte-identical bodies in one
// run. A host that guards its images answers a foreign request with one placeholder picture and
// 200; without the hotlink option such answers are stored as they came, and the run says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "job/extension_options.h"
#include "job/run_events.h"

namespace zembrat::job {

class LookAlikes {
  public:
    // A settled row: a body stored (or found stored) in this run counts by its address, CRC-32
    // and size; a failed row, or one reused from the record without a download, does not.
    void Add(const ImageRecord& record);
    // The address answered the same bytes as another address of its host.
    bool Concerns(const std::string& address) const;
    // How many addresses did.
    std::size_t Count() const { return count_; }

  private:
    using Body = std::pair<std::uint32_t, std::uint64_t>;  // CRC-32, size
    std::map<std::string, std::map<Body, std::set<std::string>>> byHost_;
    std::set<std::string> concerned_;
    std::size_t count_ = 0;
};

// Under the hotlink option a placeholder is proved, not guessed. A body that two addresses of one
// host gave alike is asked again at the next identity of each one's ladder. Only an address whose
// answers changed with the identity, and that still gives a look-alike at its last identity, is
// failed as a placeholder; one that gave the same picture at every identity gets it stored. A
// body the user marked as a placeholder is refused at every identity.
class PlaceholderProof {
  public:
    enum class Verdict {
        Keep,         // an image: stored
        AskAgain,     // asked again at the next identity
        Placeholder,  // failed as a suspected placeholder
    };
    // Where a body came from: its address, and its row (ArticleWork::index, row of the article).
    struct Source {
        std::string address;
        std::size_t article = 0;
        std::size_t row = 0;
    };

    explicit PlaceholderProof(const std::vector<PlaceholderMark>& marks) : marks_(marks) {}

    // The body source got at one identity; more: its ladder has another identity after it. When
    // the body makes an earlier body of another address a look-alike, that one's source is put
    // into *earlier: it is judged again by Again.
    Verdict Judge(const Source& source, std::uint32_t crc, std::size_t size, bool more,
                  std::optional<Source>* earlier);
    // The verdict on a body judged Keep before that a later body made a look-alike.
    Verdict Again(const std::string& address, bool more) const;

  private:
    using Body = std::pair<std::uint32_t, std::size_t>;  // CRC-32, size
    struct Answers {
        Body first{};
        bool changed = false;  // a later identity got another body than the first
    };
    const std::vector<PlaceholderMark>& marks_;
    // Per host: bodies one address gave so far, and bodies two addresses gave alike.
    std::unordered_map<std::string, std::map<Body, Source>> seen_;
    std::unordered_map<std::string, std::set<Body>> alike_;
    std::unordered_map<std::string, Answers> answers_;  // by address
};

}  // namespace zembrat::job
