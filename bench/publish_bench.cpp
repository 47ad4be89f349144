// Publishing a result against rclone, over the same loopback servers in the same run.
//
//     publish_bench [images] [rounds] [sftp|s3]    (default 2000 and 3, both servers)
//
// A result folder holds the images (random bytes of 20 KB each, content-named as a run names
// them, in one image folder), recorded in the run record as stored images, so the publish finds
// them as the program does. For each server (OpenSSH's sshd serving SFTP, which needs root, and
// the S3 server) and for 4 and 16 uploads at once, each round publishes them with that many
// transports to a fresh path and lets `rclone copy --transfers N` upload the same files to another
// fresh path of the same server, the two taking turns at going first; the medians of the rounds
// count. Printed per server and number at once: our time, rclone's, the ratio rclone/ours (aim: at
// least 1.2 over SFTP, 1.0 over S3), then a second publish of the unchanged result (the manifest
// knows every file: no transport made), its time and its ratio to the first publish (aim: at most
// 0.02); and the machine's core count.
// Exits non-zero when an aim is missed or an upload went wrong.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <stdlib.h>

#include "job/image_names.h"
#include "publish/publish_run.h"
#include "publish/result_items.h"
#include "publish/transport.h"
#include "record/run_record.h"
#include "support/s3_server.h"
#include "support/server_process.h"
#include "support/sshd_server.h"
#include "text/crc32.h"
#include "text/digest.h"

namespace {
using namespace zembrat;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kImageSize = 20 * 1024;
constexpr const char* kImageFolder = "images";
constexpr const char* kRclone = "/usr/bin/rclone";
constexpr int kAtOnce[] = {4, 16};

// The images in folder/images, recorded as stored; the items the publish finds there.
std::vector<publish::PublishItem> MakeResult(const std::string& folder, int count) {
    std::mt19937_64 random(20261210);
    fs::create_directories(folder + "/" + kImageFolder);
    record::RunRecord record;
    if (record.Open(folder) == record::OpenResult::Failed) {
        std::fprintf(stderr, "the run record: %s\n", record.Message().c_str());
        return {};
    }
    record.Begin();
    for (int i = 0; i < count; ++i) {
        std::string bytes(kImageSize, '\0');
        for (std::size_t at = 0; at < bytes.size(); at += 8) {
            const std::uint64_t word = random();
            for (std::size_t b = 0; b < 8 && at + b < bytes.size(); ++b)
                bytes[at + b] = static_cast<char>(word >> (8 * b));
        }
        const std::string stored =
            std::string(kImageFolder) + "/" + job::ContentName(bytes) + ".jpg";
        std::ofstream(folder + "/" + stored, std::ios::binary) << bytes;
        record::ImageEntry image;
        image.address = "http://images.example/" + std::to_string(i) + ".jpg";
        image.storedPath = stored;
        image.size = bytes.size();
        image.crc = text::Crc32(bytes);  // as a run records it: the publish checks it
        image.outcome = record::Outcome::Stored;
        record.PutImage(image);
    }
    record.Commit();
    return publish::ResultItems(record, folder, false);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// How many files are below folder.
std::size_t FilesBelow(const std::string& folder) {
    std::error_code error;
    std::size_t n = 0;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->is_regular_file()) ++n;
    return n;
}

// Where a publish spends its time: each call of every transport, summed over the transports.
struct CallTimes {
    std::atomic<std::int64_t> nanos[5] = {};
    std::atomic<int> calls[5] = {};
    static constexpr const char* kNames[5] = {"connect", "look", "fetch", "upload", "listing"};
    void Print(const std::string& side, int atOnce) const {
        std::printf("  %s %d at once, time in the transports' calls:", side.c_str(), atOnce);
        for (int i = 0; i < 5; ++i)
            if (calls[i] > 0)
                std::printf(" %s %d x %.2f ms", kNames[i], calls[i].load(),
                            static_cast<double>(nanos[i]) / 1e6 / calls[i]);
        std::printf("\n");
    }
};

class TimedTransport final : public publish::Transport {
  public:
    TimedTransport(std::unique_ptr<publish::Transport> inner, CallTimes& times)
        : inner_(std::move(inner)), times_(times) {}
    template <typename F>
    auto Timed(int which, F&& call) {
        const auto start = Clock::now();
        auto result = call();
        times_.nanos[which] +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        ++times_.calls[which];
        return result;
    }
    bool Connect(std::string& message) override {
        return Timed(0, [&] { return inner_->Connect(message); });
    }
    std::optional<publish::RemoteFile> Look(const std::string& remotePath,
                                            std::string& message) override {
        return Timed(1, [&] { return inner_->Look(remotePath, message); });
    }
    std::optional<std::map<std::string, publish::RemoteFile>> Listing(
        const std::string& folder, std::string& message) override {
        return Timed(4, [&] { return inner_->Listing(folder, message); });
    }
    std::optional<std::string> Fetch(const std::string& remotePath, std::string& message) override {
        return Timed(2, [&] { return inner_->Fetch(remotePath, message); });
    }
    using Transport::Upload;
    publish::UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                                 const publish::ServedAs& servedAs, std::stop_token stop) override {
        return Timed(3, [&] { return inner_->Upload(localFile, remotePath, servedAs, stop); });
    }

  private:
    std::unique_ptr<publish::Transport> inner_;
    CallTimes& times_;
};

// One server's side of the comparison.
struct Side {
    std::string name;
    // The target for round r's fresh path.
    std::function<publish::Target(int round)> target;
    std::function<std::unique_ptr<publish::Transport>(const publish::Target&)> make;
    // rclone's destination for round r's fresh path.
    std::function<std::string(int round)> rcloneDestination;
    std::vector<std::string> rcloneFlags;
    // How many files the server holds below round r's rclone path (nullopt: not counted).
    std::function<std::optional<std::size_t>(int round)> rcloneCount;
    // Starts the server afresh before a round, where it slows down with what it holds (empty:
    // it does not); false when it did not start.
    std::function<bool()> fresh;
};

struct Figures {
    double ours = 0, rclone = 0, second = 0;
    bool good = true;
};

// CPU seconds used so far by this process, or by its children that ended.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Figures Compare(const Side& side, const std::vector<publish::PublishItem>& items,
                const std::string& resultFolder, int rounds, int atOnce) {
    Figures figures;
    record::RunRecord record;
    record.Open(resultFolder);
    publish::RecordManifest manifest(record);
    publish::PublishObserver quiet;
    std::vector<double> ours, theirs, second;
    double ourCpu = 0, theirCpu = 0;
    CallTimes times;
    publish::PublishOptions options;
    options.atOnce = atOnce;
    for (int r = 0; r < rounds; ++r) {
        // A fresh path for every round at every number at once.
        const int round = atOnce * 100 + r;
        if (side.fresh && !side.fresh()) {
            std::fprintf(stderr, "%s: the server did not start again\n", side.name.c_str());
            figures.good = false;
            break;
        }
        const publish::Target target = side.target(round);
        auto publishOnce = [&](int& made) {
            made = 0;
            const auto start = Clock::now();
            const auto make = [&]() -> std::unique_ptr<publish::Transport> {
                ++made;
                return std::make_unique<TimedTransport>(side.make(target), times);
            };
            const publish::PublishSummary summary =
                publish::Publish(items, target.name, make, &manifest, quiet, options, {});
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            return std::make_pair(seconds, summary);
        };
        auto runOurs = [&] {
            int made = 0;
            const double cpu = CpuSeconds(RUSAGE_SELF);
            const auto [seconds, summary] = publishOnce(made);
            ourCpu += CpuSeconds(RUSAGE_SELF) - cpu;
            if (summary.Count(publish::PublishOutcome::Uploaded) != items.size()) {
                std::fprintf(stderr, "%s: %zu of %zu uploaded (%s)\n", side.name.c_str(),
                             summary.Count(publish::PublishOutcome::Uploaded), items.size(),
                             summary.message.c_str());
                for (const auto& row : summary.rows)
                    if (!row.message.empty()) {
                        std::fprintf(stderr, "  %s\n", row.message.c_str());
                        break;
                    }
                figures.good = false;
            }
            ours.push_back(seconds);
        };
        auto runRclone = [&] {
            std::vector<std::string> argv{
                kRclone, "copy", "--transfers", std::to_string(atOnce), "--config", "/dev/null"};
            argv.insert(argv.end(), side.rcloneFlags.begin(), side.rcloneFlags.end());
            argv.push_back(resultFolder + "/" + kImageFolder);
            argv.push_back(side.rcloneDestination(round));
            std::string output;
            const auto start = Clock::now();
            const double cpu = CpuSeconds(RUSAGE_CHILDREN);
            const bool ok = testing::RunToEnd(argv, &output);
            theirCpu += CpuSeconds(RUSAGE_CHILDREN) - cpu;
            theirs.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            const std::optional<std::size_t> count = side.rcloneCount(round);
            if (!ok || (count && *count != items.size())) {
                std::fprintf(stderr, "%s: rclone failed: %s\n", side.name.c_str(), output.c_str());
                figures.good = false;
            }
        };
        if (r % 2 == 0) {
            runOurs();
            runRclone();
        } else {
            runRclone();
            runOurs();
        }
        // The unchanged result again: the manifest answers for every file.
        int made = 0;
        const auto [seconds, summary] = publishOnce(made);
        if (made != 0 || summary.Count(publish::PublishOutcome::Published) != items.size()) {
            std::fprintf(stderr, "%s: the second publish made %d transports, %zu known\n",
                         side.name.c_str(), made,
                         summary.Count(publish::PublishOutcome::Published));
            figures.good = false;
        }
        second.push_back(seconds);
        if (r == 0) {
            // Where the second publish spends its time: reading and digesting every file, and
            // asking the manifest about it.
            auto start = Clock::now();
            for (const publish::PublishItem& item : items)
                (void)text::FileMd5Hex(item.folder + item.localFile);
            const double digests = std::chrono::duration<double>(Clock::now() - start).count();
            start = Clock::now();
            for (const publish::PublishItem& item : items)
                (void)manifest.Find(target.name, item.remotePath);
            const double finds = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("  %s second publish: digests %.4f s, manifest %.4f s\n", side.name.c_str(),
                        digests, finds);
        }
        std::printf("  %s %d at once, round %d: ours %.3f s, rclone %.3f s, second %.4f s\n",
                    side.name.c_str(), atOnce, r + 1, ours.back(), theirs.back(), second.back());
        std::fflush(stdout);
    }
    times.Print(side.name, atOnce);
    // The clients' own work (the servers' is apart): ours per file against rclone's.
    std::printf("  %s %d at once, CPU per file: ours %.3f ms, rclone %.3f ms\n", side.name.c_str(),
                atOnce, ourCpu * 1e3 / rounds / static_cast<double>(items.size()),
                theirCpu * 1e3 / rounds / static_cast<double>(items.size()));
    figures.ours = Median(ours);
    figures.rclone = Median(theirs);
    figures.second = Median(second);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";
    if (!fs::exists(kRclone)) {
        std::fprintf(stderr, "rclone is not installed at %s\n", kRclone);
        return 2;
    }
    testing::ScratchFolder scratch;
    const std::string resultFolder = scratch.path() + "/result";
    const std::vector<publish::PublishItem> items = MakeResult(resultFolder, count);
    if (items.size() != static_cast<std::size_t>(count)) {
        std::fprintf(stderr, "the record gave %zu items for %d images\n", items.size(), count);
        return 2;
    }
    std::printf("%d images of %zu bytes, 4 and 16 at once, median of %d rounds, %u cores\n", count,
                kImageSize, rounds, std::thread::hardware_concurrency());

    struct Row {
        std::string name;
        int atOnce = 0;
        double aim = 0;  // rclone/ours at least
        Figures figures;
    };
    std::vector<Row> rows;

    // SFTP: the user's key and the server's host key in a home of the bench's own.
    if (only == "s3") {
        std::printf("SFTP: not asked for\n");
    } else if (::geteuid() == 0) {
        testing::SshdServer sshd;
        if (!sshd.started()) {
            std::fprintf(stderr, "sshd: %s\n", sshd.error().c_str());
            return 2;
        }
        publish::Credentials credentials;
        credentials.home = scratch.path() + "/home";
        const std::string key = testing::SshdServer::MakeUserKey(credentials.home + "/.ssh");
        const std::string knownHosts = credentials.home + "/.ssh/known_hosts";
        std::ofstream(knownHosts) << sshd.KnownHostsLine() << "\n";
        if (key.empty() || !sshd.Authorize(key)) {
            std::fprintf(stderr, "sshd: the user key could not be made or authorized\n");
            return 2;
        }
        ::unsetenv("SSH_AUTH_SOCK");
        const std::string root = sshd.root();
        Side side;
        side.name = "SFTP";
        side.target = [&](int round) {
            std::string error;
            const auto target =
                publish::ParseTargetUrl("sftp://root@127.0.0.1:" + std::to_string(sshd.port()) +
                                            root + "/ours-" + std::to_string(round) + "/",
                                        error);
            if (!target) std::fprintf(stderr, "%s\n", error.c_str());
            return target.value_or(publish::Target{});
        };
        side.make = [&](const publish::Target& target) {
            return publish::MakeTransport(target, credentials);
        };
        side.rcloneDestination = [&](int round) {
            return ":sftp,host=127.0.0.1,port=" + std::to_string(sshd.port()) +
                   ",user=root,key_file=" + credentials.home + "/.ssh/id_ed25519:" + root +
                   "/rclone-" + std::to_string(round) + "/" + kImageFolder;
        };
        // Plain SFTP as ours: no remote shell commands (rclone would run md5sum over ssh after
        // every upload, a login's worth of time per file).
        side.rcloneFlags = {"--sftp-known-hosts-file", knownHosts, "--sftp-disable-hashcheck",
                            "--sftp-shell-type", "none"};
        side.rcloneCount = [&](int round) -> std::optional<std::size_t> {
            return FilesBelow(root + "/rclone-" + std::to_string(round));
        };
        for (const int atOnce : kAtOnce)
            rows.push_back(
                {side.name, atOnce, 1.2, Compare(side, items, resultFolder, rounds, atOnce)});
    } else {
        std::printf("SFTP: skipped (sshd needs root)\n");
    }

    // S3: the keys from the environment, as the program reads them.
    if (only != "sftp") {
        // A server of its own for every round: it lists a prefix by reading its whole bucket, so
        // the objects of earlier rounds would slow every listing (its own and rclone's).
        auto s3 = std::make_unique<testing::S3Server>();
        if (!s3->started()) {
            std::fprintf(stderr, "S3 server: %s\n", s3->error().c_str());
            return 2;
        }
        ::setenv("AWS_ACCESS_KEY_ID", s3->accessKey().c_str(), 1);
        ::setenv("AWS_SECRET_ACCESS_KEY", s3->secretKey().c_str(), 1);
        ::unsetenv("AWS_SESSION_TOKEN");
        ::unsetenv("AWS_PROFILE");
        // rclone's S3 client refuses a CA bundle over plain http.
        ::unsetenv("AWS_CA_BUNDLE");
        const publish::Credentials credentials{scratch.path() + "/home", "", false};
        Side side;
        side.name = "S3";
        side.fresh = [&] {
            s3.reset();
            s3 = std::make_unique<testing::S3Server>();
            return s3->started();
        };
        side.target = [&](int round) {
            publish::Target target;
            target.name = "s3 ours-" + std::to_string(round);
            target.protocol = publish::Protocol::S3;
            target.bucket = s3->bucket();
            target.endpoint = s3->endpoint();
            target.region = "us-east-1";
            target.path = "ours-" + std::to_string(round) + "/";
            return target;
        };
        side.make = [&](const publish::Target& target) {
            return publish::MakeTransport(target, credentials);
        };
        side.rcloneDestination = [&](int round) {
            return ":s3,provider=Other,endpoint='" + s3->endpoint() + "'" +
                   ",access_key_id=" + s3->accessKey() + ",secret_access_key=" + s3->secretKey() +
                   ",force_path_style=true:" + s3->bucket() + "/rclone-" + std::to_string(round) +
                   "/" + kImageFolder;
        };
        // The server keeps objects its own way: the first and the last file are read back.
        side.rcloneCount = [&](int round) -> std::optional<std::size_t> {
            std::size_t found = 0;
            for (const publish::PublishItem* item : {&items.front(), &items.back()})
                if (s3->Object("rclone-" + std::to_string(round) + "/" + item->remotePath)) ++found;
            return found == 2 ? items.size() : found;
        };
        for (const int atOnce : kAtOnce)
            rows.push_back(
                {side.name, atOnce, 1.0, Compare(side, items, resultFolder, rounds, atOnce)});
    }

    bool good = true;
    std::printf("\n%-6s %8s %10s %10s %14s %12s %16s\n", "server", "at once", "ours s", "rclone s",
                "rclone/ours", "second s", "second/first");
    for (const Row& row : rows) {
        const Figures& f = row.figures;
        const double speed = f.rclone / f.ours;
        const double again = f.second / f.ours;
        std::printf("%-6s %8d %10.3f %10.3f %9.2f %-4s %12.4f %11.4f %-4s\n", row.name.c_str(),
                    row.atOnce, f.ours, f.rclone, speed, speed >= row.aim ? "ok" : "MISS", f.second,
                    again, again <= 0.02 ? "ok" : "MISS");
        good = good && f.good && speed >= row.aim && again <= 0.02;
    }
    std::printf(
        "aims: rclone/ours >= 1.2 over SFTP and 1.0 over S3, second/first <= 0.02; %u cores\n",
        std::thread::hardware_concurrency());
    return good ? 0 : 1;
}
