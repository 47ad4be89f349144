// Random sequences of store operations on random starting bytes. After every operation the file
// must hold exactly the store's mirror, and the change must be confined to the entry, header or
// section the operation named: every other line of the file stays as it was. A write must give
// the bytes the layout functions say it gives, the listings must list what the layout functions
// find in the file, and changes made from the event points while an operation runs must come
// out as if they had been made one after the other, right after it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "config/config_store_test_access.h"
#include "config/ini_layout.h"
#include "config/value_forms.h"
#include "fuzz_support.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace {

using zembrat::config::ConfigStore;
using zembrat::config::StoreResult;
using zembrat::config::WriteResult;
using Probe = zembrat::config::ConfigStoreTestAccess;
namespace ini = zembrat::config::ini;
using namespace zembrat::text::literals;

const std::string& SettingsPath() {
    static const std::string path = zembrat::fuzzing::ScratchPath("f.ini");
    return path;
}

// A second store's file, for replaying operations one after the other.
const std::string& TwinPath() {
    static const std::string path = SettingsPath() + ".twin";
    return path;
}

// A change the event hook makes while an operation runs.
struct Mutation {
    int kind = 0;  // 0 SetValue, 1 DeleteEntry, 2 RenameSection, 3 RenameKey, 4 WriteText
    std::string a, b, c;
};

// Results as numbers: the store's own codes, and a typed write's written / queued / failed as
// done / queued / failed.
int Code(StoreResult result) {
    return static_cast<int>(result);
}
int Code(WriteResult result) {
    switch (result) {
        case WriteResult::kWritten:
            return Code(StoreResult::kDone);
        case WriteResult::kQueued:
            return Code(StoreResult::kQueued);
        case WriteResult::kFailed:
            break;
    }
    return Code(StoreResult::kFailed);
}

int Apply(ConfigStore& store, const Mutation& m) {
    switch (m.kind) {
        case 0:
            return Code(store.SetValue(m.a, m.b, m.c));
        case 1:
            return Code(store.DeleteEntry(m.a, m.b));
        case 2:
            return Code(store.RenameSection(m.a, m.b));
        case 3:
            return Code(store.RenameKey(m.a, m.b, m.c));
        default:
            return Code(store.WriteText(m.a, m.b));
    }
}

// What the event hook does while armed: the next change of its script, one per call, never
// from inside a change it is making itself.
struct HookScript {
    ConfigStore* store = nullptr;
    std::vector<Mutation> changes;
    std::vector<int> results;
    bool inside = false;

    void OnEvents() {
        if (!store || inside || results.size() >= changes.size()) return;
        inside = true;
        results.push_back(Apply(*store, changes[results.size()]));
        inside = false;
    }
};
HookScript* armedScript = nullptr;

// The store's event points: the armed script's next change, and messages answered at once.
class ScriptPoints : public zembrat::platform::EventPoints {
  public:
    void ProcessEvents() override {
        if (armedScript) armedScript->OnEvents();
    }
    zembrat::platform::MessageAnswer ShowMessage(
        const zembrat::platform::MessageRequest&) override {
        return zembrat::platform::MessageAnswer::Ok;
    }
};

ScriptPoints& Points() {
    static ScriptPoints points;
    return points;
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
        store_.SetEventPoints(Points());
        FUZZ_CHECK(store_.Open(SettingsPath(), zembrat::config::DiskFile));
        FUZZ_CHECK(Probe::ContentBytes(store_) == initial);
    }

    void Step(FuzzedDataProvider& in) {
        const std::string before = Probe::ContentBytes(store_);
        const int op = in.ConsumeIntegralInRange(0, 15);
        if (std::getenv("ZEMBRAT_FUZZ_TRACE"))
            std::fprintf(stderr, "op %d on [%s]\n", op, Escaped(before).c_str());
        switch (op) {
            case 0: {
                const std::string section = Name(in), key = Name(in);
                const std::string value = WithoutLineBreaks(in.ConsumeRandomLengthString(16));
                CheckSet(before, section, key, value, Code(store_.SetValue(section, key, value)));
                break;
            }
            case 1: {
                const std::string section = Name(in), key = Name(in);
                const std::string value = in.ConsumeRandomLengthString(16);
                store_.SetSection(section);
                const bool ok = store_.WriteText(key, value) == WriteResult::kWritten;
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
                const bool ok = store_.WriteNumber(key, value) == WriteResult::kWritten;
                CheckSet(before, section, key, zembrat::config::NumberToStored(value), ok ? 0 : -1);
                break;
            }
            case 3: {
                const std::string section = Name(in), key = in.ConsumeBool() ? "" : Name(in);
                CheckDelete(before, section, key, Code(store_.DeleteEntry(section, key)));
                break;
            }
            case 4: {
                const std::string from = Name(in), to = Name(in);
                const int result = Code(store_.RenameSection(from, to));
                const LineDiff d = Diff(before, Probe::ContentBytes(store_));
                if (result != 0 || from == zembrat::text::TextOf(to)) {
                    FUZZ_CHECK(result == 0 || result == 1);
                    if (result != 0) FUZZ_CHECK(Probe::ContentBytes(store_) == before);
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
                const int result = Code(store_.RenameKey(section, from, to));
                FUZZ_CHECK(result >= 0 && result <= 2);
                if (result != 0) {
                    FUZZ_CHECK(Probe::ContentBytes(store_) == before);
                    break;
                }
                const LineDiff d = Diff(before, Probe::ContentBytes(store_));
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
                FUZZ_CHECK(Probe::ContentBytes(store_) ==
                           (append ? before : std::string()) + zembrat::text::TextOf(text));
                break;
            }
            case 7: {
                std::vector<std::string> out;
                const std::string include = in.ConsumeBool() ? "" : Name(in);
                const std::string exclude = in.ConsumeBool() ? "" : Name(in);
                const int count = store_.ListSections(out, include, exclude);
                FUZZ_CHECK(count == static_cast<int>(out.size()));
                FUZZ_CHECK(out == ini::ListedSections(before, include, exclude));
                const std::string keyInclude = in.ConsumeBool() ? "" : Name(in);
                const std::string restrict = in.ConsumeBool() ? "" : "r";
                const std::string sectionInclude = in.ConsumeBool() ? "" : Name(in);
                const std::string sectionExclude = in.ConsumeBool() ? "" : Name(in);
                store_.ListKeys(out, keyInclude, "", restrict, sectionInclude, sectionExclude);
                FUZZ_CHECK(out == ini::ListedKeys(before, keyInclude, "", !restrict.empty(),
                                                  sectionInclude, sectionExclude));
                FUZZ_CHECK(Probe::ContentBytes(store_) == before);
                break;
            }
            case 8: {
                std::vector<std::string> out;
                store_.SectionsWithKey(Name(in), out);
                store_.KeysWithValue(Name(in), out, in.ConsumeBool() ? "" : Name(in));
                FUZZ_CHECK(Probe::ContentBytes(store_) == before);
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
                FUZZ_CHECK(Probe::ContentBytes(store_) == before);
                break;
            }
            case 11: {
                store_.Reload();
                FUZZ_CHECK(Probe::ContentBytes(store_) == before);
                break;
            }
            case 12: {
                // Writing the value that is already there changes nothing.
                const std::string section = Name(in), key = Name(in);
                const std::string sentinel = "\x01";
                const std::string current = store_.GetValue(section, key, sentinel, false);
                if (current == sentinel) break;
                FUZZ_CHECK(store_.SetValue(section, key, current) == StoreResult::kDone);
                if (before.find('\0') == std::string::npos)
                    FUZZ_CHECK(Probe::ContentBytes(store_) == before);
                break;
            }
            case 14:
                ChangesFromTheEventHook(in, before);
                break;
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
    static Mutation RandomMutation(FuzzedDataProvider& in) {
        Mutation m;
        m.kind = in.ConsumeIntegralInRange(0, 4);
        m.a = Name(in);
        m.b = Name(in);
        m.c = m.kind == 0 ? WithoutLineBreaks(in.ConsumeRandomLengthString(8)) : Name(in);
        return m;
    }

    // An operation during which the event hook makes up to three changes. The result must be
    // what a second store gets from the same calls made one after the other: the operation,
    // then the hook's changes in the order they were made.
    void ChangesFromTheEventHook(FuzzedDataProvider& in, const std::string& before) {
        const int outer = in.ConsumeIntegralInRange(0, 6);
        const Mutation change = RandomMutation(in);
        const std::string include = Name(in);
        HookScript script;
        const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 3);
        for (std::size_t i = 0; i < count; ++i) script.changes.push_back(RandomMutation(in));
        const std::string section = Probe::CurrentSection(store_);

        // The same start, without the hook.
        if (!zembrat::platform::WriteWholeFile(TwinPath(), before)) std::abort();
        ConfigStore twin;
        twin.SetEventPoints(Points());
        FUZZ_CHECK(twin.Open(TwinPath(), zembrat::config::DiskFile));
        twin.SetSection(section);

        std::vector<std::string> listed, twinListed;
        int result = 0, twinResult = 0;
        const bool reads = outer >= 5;
        const auto runOuter = [&](ConfigStore& store, std::vector<std::string>& out) {
            if (outer == 5) return store.ListSections(out, include);
            if (outer == 6) return store.SectionsWithKey(include, out);
            Mutation m = change;
            m.kind = outer;
            return Apply(store, m);
        };
        script.store = &store_;
        armedScript = &script;
        result = runOuter(store_, listed);
        armedScript = nullptr;

        FUZZ_CHECK(!Probe::Busy(store_) && Probe::PendingQueue(store_).empty());
        twinResult = runOuter(twin, twinListed);
        FUZZ_CHECK(result == twinResult);
        FUZZ_CHECK(listed == twinListed);  // a listing works on what was there when it began
        for (std::size_t i = 0; i < script.results.size(); ++i) {
            const int direct = Apply(twin, script.changes[i]);
            if (reads) {
                FUZZ_CHECK(script.results[i] == direct);  // nothing runs then: done at once
            } else {
                // Queued behind the running operation.
                FUZZ_CHECK(script.results[i] == Code(StoreResult::kQueued));
            }
        }
        if (std::getenv("ZEMBRAT_FUZZ_TRACE")) {
            std::fprintf(stderr, "outer %d, %zu hook changes, now [%s], one by one [%s]\n", outer,
                         script.results.size(), Escaped(Probe::ContentBytes(store_)).c_str(),
                         Escaped(Probe::ContentBytes(twin)).c_str());
        }
        FUZZ_CHECK(Probe::ContentBytes(store_) == Probe::ContentBytes(twin));
    }

    void FileMatchesMirror() {
        zembrat::text::Bytes bytes;
        FUZZ_CHECK(zembrat::platform::ReadWholeFile(SettingsPath(), bytes));
        FUZZ_CHECK(bytes == Probe::ContentBytes(store_));
        FUZZ_CHECK(store_.WritesReachDisk());
    }

    void CheckSet(const std::string& before, const std::string& section, const std::string& key,
                  const std::string& rawValue, int result) {
        const std::string& after = Probe::ContentBytes(store_);
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
        FUZZ_CHECK(ini::WithValue(before, section, key, value) == after);
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
        const std::string& after = Probe::ContentBytes(store_);
        FUZZ_CHECK(result >= 0 && result <= 2);
        if (result != 0) {
            FUZZ_CHECK(after == before);
            return;
        }
        // One range went: the section from its first header at a line start, or one entry line
        // of it together with the line break before it.
        const std::size_t q = ini::FindSection(before, section).open;
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
    FuzzedDataProvider in(data, size);
    Run run(in.ConsumeRandomLengthString(1024));
    for (int i = 0; i < 24 && in.remaining_bytes() > 0; ++i) run.Step(in);
    return 0;
}
