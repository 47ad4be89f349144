// Random sequences of store operations on random starting bytes. After every operation the file
// must hold exactly the store's mirror, and the change must be confined to the entry, header or
// section the operation named: every other line of the file stays as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "config/value_forms.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace {

using zembrat::config::ConfigStore;
using namespace zembrat::text::literals;

#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #cond); \
            __builtin_trap();                                                       \
        }                                                                           \
    } while (0)

const std::string& SettingsPath() {
    static const std::string path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembrat-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        static const std::string folder = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return pattern + "/f.ini";
    }();
    return path;
}

std::vector<std::string> SplitLines(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = s.find("\r\n", from);
        if (at == std::string::npos) break;
        lines.push_back(s.substr(from, at - from));
        from = at + 2;
    }
    lines.push_back(s.substr(from));
    return lines;
}

struct LineDiff {
    std::vector<std::string> removed, added;
};

LineDiff Diff(const std::string& before, const std::string& after) {
    const std::vector<std::string> a = SplitLines(before), b = SplitLines(after);
    std::size_t p = 0;
    while (p < a.size() && p < b.size() && a[p] == b[p]) ++p;
    std::size_t s = 0;
    while (s < a.size() - p && s < b.size() - p && a[a.size() - 1 - s] == b[b.size() - 1 - s]) ++s;
    LineDiff d;
    d.removed.assign(a.begin() + static_cast<long>(p), a.end() - static_cast<long>(s));
    d.added.assign(b.begin() + static_cast<long>(p), b.end() - static_cast<long>(s));
    return d;
}

// For tracing a failing input: the bytes with controls and high bytes escaped.
std::string Escaped(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        }
    }
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Names and values never hold CR LF here, so that a line of the file stays one line.
std::string WithoutLineBreaks(std::string s) {
    for (std::size_t at = s.find("\r\n"); at != std::string::npos; at = s.find("\r\n", at)) {
        s.erase(at + 1, 1);
    }
    return s;
}

std::string Name(FuzzedDataProvider& in) {
    static const std::vector<std::string> pool = {
        "S", "T",  "基本配置"_gbk, "",       "k",  "a=b", "[",       "]",
        "=", "x]", "[y",           "乚"_gbk, "\r", "\n",  "┊*┊"_gbk, std::string("S\0z", 3)};
    if (in.ConsumeBool()) return pool[in.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)];
    return WithoutLineBreaks(in.ConsumeRandomLengthString(8));
}

class Run {
  public:
    explicit Run(std::string initial) {
        if (!zembrat::platform::WriteWholeFile(SettingsPath(), initial)) std::abort();
        FUZZ_CHECK(store_.Open(SettingsPath(), zembrat::config::DiskFile));
        FUZZ_CHECK(store_.ContentBytes() == initial);
    }

    void Step(FuzzedDataProvider& in) {
        const std::string before = store_.ContentBytes();
        const int op = in.ConsumeIntegralInRange(0, 13);
        if (std::getenv("ZEMBRAT_FUZZ_TRACE"))
            std::fprintf(stderr, "op %d on [%s]\n", op, Escaped(before).c_str());
        switch (op) {
            case 0: {
                const std::string section = Name(in), key = Name(in);
                const std::string value = WithoutLineBreaks(in.ConsumeRandomLengthString(16));
                CheckSet(before, section, key, value, store_.SetValue(section, key, value));
                break;
            }
            case 1: {
                const std::string section = Name(in), key = Name(in);
                const std::string value = in.ConsumeRandomLengthString(16);
                store_.SetSection(section);
                const bool ok = store_.WriteText(key, value);
                const std::string stored =
                    zembrat::config::TextToStored(zembrat::text::TextOf(value));
                // A name holding a zero byte is never written; such a section may still be found
                // when the file brought it along.
                if (key.find('\0') != std::string::npos) FUZZ_CHECK(!ok);
                if (section.find('\0') == std::string::npos)
                    FUZZ_CHECK(ok || key.find('\0') != std::string::npos);
                CheckSet(before, section, key, stored, ok ? 0 : -1);
                // A text comes back as written, unless it holds bytes of the line-break token.
                const std::string written = zembrat::text::TextOf(value);
                if (ok && !written.empty() && written.find('\xA9') == std::string::npos) {
                    FUZZ_CHECK(store_.ReadText(key, "x") == written);
                }
                break;
            }
            case 2: {
                const std::string section = Name(in), key = Name(in);
                const double value = in.ConsumeFloatingPoint<double>();
                store_.SetSection(section);
                const bool ok = store_.WriteNumber(key, value);
                CheckSet(before, section, key, zembrat::config::NumberToStored(value), ok ? 0 : -1);
                break;
            }
            case 3: {
                const std::string section = Name(in), key = in.ConsumeBool() ? "" : Name(in);
                CheckDelete(before, section, key, store_.DeleteEntry(section, key));
                break;
            }
            case 4: {
                const std::string from = Name(in), to = Name(in);
                const int result = store_.RenameSection(from, to);
                const LineDiff d = Diff(before, store_.ContentBytes());
                if (result != 0 || from == zembrat::text::TextOf(to)) {
                    FUZZ_CHECK(result == 0 || result == 1);
                    if (result != 0) FUZZ_CHECK(store_.ContentBytes() == before);
                    break;
                }
                FUZZ_CHECK(d.removed.size() == 1 && d.added.size() == 1);
                FUZZ_CHECK(StartsWith(d.removed[0], "[" + from + "]"));
                FUZZ_CHECK(d.added[0] == "[" + zembrat::text::TextOf(to) + "]" +
                                             d.removed[0].substr(from.size() + 2));
                break;
            }
            case 5: {
                const std::string section = Name(in), from = Name(in), to = Name(in);
                const int result = store_.RenameKey(section, from, to);
                FUZZ_CHECK(result >= 0 && result <= 2);
                if (result != 0) {
                    FUZZ_CHECK(store_.ContentBytes() == before);
                    break;
                }
                const LineDiff d = Diff(before, store_.ContentBytes());
                if (d.removed.empty() && d.added.empty()) break;  // renamed to itself
                FUZZ_CHECK(d.removed.size() == 1 && d.added.size() == 1);
                FUZZ_CHECK(StartsWith(d.removed[0], from + "="));
                FUZZ_CHECK(d.added[0] ==
                           zembrat::text::TextOf(to) + d.removed[0].substr(from.size()));
                break;
            }
            case 6: {
                const std::string text = in.ConsumeRandomLengthString(64);
                const bool append = in.ConsumeBool();
                store_.SetContent(text, append);
                FUZZ_CHECK(store_.ContentBytes() ==
                           (append ? before : std::string()) + zembrat::text::TextOf(text));
                break;
            }
            case 7: {
                std::vector<std::string> out;
                store_.ListSections(out, Name(in), in.ConsumeBool() ? "" : Name(in));
                store_.ListKeys(out, Name(in), "", in.ConsumeBool() ? "" : "r", Name(in));
                FUZZ_CHECK(store_.ContentBytes() == before);
                break;
            }
            case 8: {
                std::vector<std::string> out;
                store_.SectionsWithKey(Name(in), out);
                store_.KeysWithValue(Name(in), out, in.ConsumeBool() ? "" : Name(in));
                FUZZ_CHECK(store_.ContentBytes() == before);
                break;
            }
            case 9: {
                const long a =
                    in.ConsumeIntegralInRange<long>(-2, static_cast<long>(before.size()) + 2);
                const long b =
                    in.ConsumeIntegralInRange<long>(-2, static_cast<long>(before.size()) + 2);
                const long found = store_.NextHeaderBetween(a, b);
                FUZZ_CHECK(found == -1 ||
                           (found >= 3 && found <= static_cast<long>(before.size()) &&
                            before[static_cast<std::size_t>(found - 1)] == '['));
                break;
            }
            case 10: {
                const std::string section = Name(in), key = Name(in);
                store_.SetSection(section);
                store_.ReadNumber(key, in.ConsumeFloatingPoint<double>());
                store_.ReadDateTime(key);
                store_.ReadBoolUnlessFalse(key);
                FUZZ_CHECK(store_.ContentBytes() == before);
                break;
            }
            case 11: {
                store_.Reload();
                FUZZ_CHECK(store_.ContentBytes() == before);
                break;
            }
            case 12: {
                // Writing the value that is already there changes nothing.
                const std::string section = Name(in), key = Name(in);
                const std::string sentinel = "\x01";
                const std::string current = store_.GetValue(section, key, sentinel, false);
                if (current == sentinel) break;
                FUZZ_CHECK(store_.SetValue(section, key, current) == 0);
                if (before.find('\0') == std::string::npos)
                    FUZZ_CHECK(store_.ContentBytes() == before);
                break;
            }
            default: {
                const std::string section = Name(in), key = Name(in);
                store_.SetSection(section);
                store_.WriteBool(key, in.ConsumeBool());
                FUZZ_CHECK(store_.ReadBool(key) == store_.ReadBool(key));
                break;
            }
        }
        FileMatchesMirror();
    }

  private:
    void FileMatchesMirror() {
        zembrat::text::Bytes bytes;
        FUZZ_CHECK(zembrat::platform::ReadWholeFile(SettingsPath(), bytes));
        FUZZ_CHECK(bytes == store_.ContentBytes());
        FUZZ_CHECK(store_.WritesReachDisk());
    }

    void CheckSet(const std::string& before, const std::string& section, const std::string& key,
                  const std::string& rawValue, int result) {
        const std::string& after = store_.ContentBytes();
        const std::string value = zembrat::text::TextOf(rawValue);
        if (key.find('\0') != std::string::npos) {
            FUZZ_CHECK(result == -1 && after == before);
            return;
        }
        if (section.find('\0') != std::string::npos && result != 0) {
            // Never established: eleven headers appended, nothing else touched.
            FUZZ_CHECK(result == -1);
            std::string expected = before;
            const std::string header = "[" + zembrat::text::TextOf(section) + "]";
            for (int i = 0; i < 11; ++i) expected += (expected.empty() ? "" : "\r\n") + header;
            FUZZ_CHECK(after == expected);
            return;
        }
        if (std::getenv("ZEMBRAT_FUZZ_TRACE")) {
            std::fprintf(stderr, "set [%s] [%s] = [%s] -> %d, now [%s]\n", Escaped(section).c_str(),
                         Escaped(key).c_str(), Escaped(value).c_str(), result,
                         Escaped(after).c_str());
        }
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(store_.GetValue(section, key, "\x01", false) == value);
        const std::string line = key + "=" + value;
        if (before.empty()) {
            FUZZ_CHECK(after == "[" + section + "]\r\n" + line);
            return;
        }
        const LineDiff d = Diff(before, after);
        if (d.removed.empty() && d.added.empty()) return;  // the same value again
        if (d.removed.size() == 1 && d.added.size() == 1) {
            FUZZ_CHECK(StartsWith(d.removed[0], key + "="));
            FUZZ_CHECK(d.added[0] == line);
            return;
        }
        FUZZ_CHECK(d.removed.empty());
        if (d.added.size() == 1) {
            FUZZ_CHECK(d.added[0] == line);
            return;
        }
        FUZZ_CHECK(d.added.size() == 2 && d.added[0] == "[" + section + "]" && d.added[1] == line);
        FUZZ_CHECK(after == before + "\r\n[" + section + "]\r\n" + line);
    }

    void CheckDelete(const std::string& before, const std::string& section, const std::string& key,
                     int result) {
        const std::string& after = store_.ContentBytes();
        FUZZ_CHECK(result >= 0 && result <= 2);
        if (result != 0) {
            FUZZ_CHECK(after == before);
            return;
        }
        // One range went: the section from its first header at a line start, or one entry line
        // of it together with the line break before it.
        const std::string header = "[" + section + "]";
        std::size_t q = before.find(header);
        while (q != std::string::npos && q != 0 &&
               !(q >= 2 && before.compare(q - 2, 2, "\r\n") == 0)) {
            q = before.find(header, q + 1);
        }
        FUZZ_CHECK(q != std::string::npos && after.size() < before.size());
        const std::size_t length = before.size() - after.size();
        const std::size_t first = key.empty() ? q : before.find("\r\n" + key + "=", q);
        FUZZ_CHECK(first != std::string::npos && first + length <= before.size());
        FUZZ_CHECK(after == before.substr(0, first) + before.substr(first + length));
        const std::size_t end = first + length;
        if (key.empty()) {
            // Up to the next header line, or to the end.
            FUZZ_CHECK(end == before.size() ||
                       (before[end] == '[' && before.compare(end - 2, 2, "\r\n") == 0));
        } else {
            FUZZ_CHECK(before.find("\r\n", first + 2) >= end);
            FUZZ_CHECK(end == before.size() || before.compare(end, 2, "\r\n") == 0);
        }
    }

    ConfigStore store_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        zembrat::platform::SetMessageHook([](const zembrat::platform::MessageRequest&) {
            return zembrat::platform::MessageAnswer::Ok;
        });
        return true;
    }();
    (void)quiet;
    FuzzedDataProvider in(data, size);
    Run run(in.ConsumeRandomLengthString(1024));
    for (int i = 0; i < 24 && in.remaining_bytes() > 0; ++i) run.Step(in);
    return 0;
}
