#include "ui/target_probe.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "publish/secret_files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "ui/publish_words.h"

namespace zembrat::ui {

using namespace text::literals;

TargetProbe ProbeTarget(const publish::Target& target, const publish::Credentials& credentials,
                        const publish::KeyringLookup& keyring, const std::string& lookAt,
                        const std::function<void()>& pump) {
    TargetProbe probe;
    publish::Credentials asked = credentials;
    asked.password = publish::KeyringPassword(target, credentials, keyring);
    std::atomic<bool> done = false;
    std::thread worker([&] {
        const std::unique_ptr<publish::Transport> transport = publish::MakeTransport(target, asked);
        probe.loggedIn = transport->Connect(probe.message);
        if (!probe.loggedIn) {
            probe.hostKeyUnknown = transport->HostKeyUnknown();
            if (probe.hostKeyUnknown) probe.fingerprint = transport->UnknownHostKey();
        } else if (!lookAt.empty()) {
            probe.found = transport->Look(lookAt, probe.message);
        }
        done = true;
    });
    while (!done) {
        if (pump) pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    return probe;
}

std::string ProbeWords(const publish::Target& target, const TargetProbe& probe,
                       const std::string& lookAt) {
    const std::string name = text::GbkFromUtf8(target.name);
    if (!probe.loggedIn)
        return "无法登录 "_gbk + name + "："_gbk + PublishWords(probe.message) + "。"_gbk;
    std::string where;
    switch (target.protocol) {
        case publish::Protocol::S3:
            where = "桶 "_gbk + text::GbkFromUtf8(target.bucket) +
                    (target.path.empty() ? std::string()
                                         : " 的前缀 "_gbk + text::GbkFromUtf8(target.path));
            break;
        default:
            where = text::GbkFromUtf8(target.host) + " 的文件夹 "_gbk +
                    text::GbkFromUtf8(target.path.empty() ? "/" : target.path);
            break;
    }
    std::string line = "已登录 "_gbk + name + "，可以访问"_gbk + where + "。"_gbk;
    if (lookAt.empty()) return line;
    const std::string folder = text::GbkFromUtf8(lookAt);
    if (!probe.found)
        return line + "查看 "_gbk + folder + " 时出错："_gbk + PublishWords(probe.message) +
               "。"_gbk;
    // An S3 prefix is no object of its own: that it could be looked at is what there is to tell.
    if (target.protocol == publish::Protocol::S3) return line + "桶里的对象可以查看。"_gbk;
    if (probe.found->exists) return line + "图片文件夹 "_gbk + folder + " 已经在那里。"_gbk;
    return line + "图片文件夹 "_gbk + folder + " 还没有，第一次发布时会建立。"_gbk;
}

}  // namespace zembrat::ui
