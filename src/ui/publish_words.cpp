#include "ui/publish_words.h"

#include <string_view>

#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

// What a message tells, by the words of it that name its kind: the first entry whose every
// fragment is in the message gives the Chinese. More particular entries stand before the general.
struct Kind {
    std::string_view fragment, also;
    const char* words;  // UTF-8
};

constexpr Kind kKinds[] = {
    {"THE HOST KEY HAS CHANGED", "",
     "主机的密钥变了，与 ~/.ssh/known_hosts "
     "里记住的不同：可能有人在窃听。如果服务器的密钥确实换了，"
     "请从该文件删除它的旧行"},
    {"does not match the pinned fingerprint", "", "主机的密钥与目标里固定的指纹不同"},
    {"host key is unknown and cannot be added", "",
     "主机的密钥还不认识，也无法记到 ~/.ssh/known_hosts"},
    {"host key is unknown", "", "主机的密钥还不认识，没有信任它"},
    {"readable by others", "",
     "密钥或凭据文件其他人也能读取，因此不用它；请把它的权限改为只有自己可读写（600）"},
    {"writable by others", "",
     "~/.netrc 其他人也能修改，因此不用它；请把它的权限改为只有自己可读写（600）"},
    {"secret access key does not match", "", "密钥与密钥编号 不符"},
    {"access key is not known", "", "服务器不认识这个密钥编号"},
    {"no access key", "", "没有 S3 密钥：请在表单里填写密钥编号 和密钥"},
    {"access key or secret key was refused", "", "密钥编号或密钥被拒绝，或它们不能使用这个桶"},
    {"asks for a password", "", "服务器要求密码，但没有给出：请在表单里填写密码"},
    {"refused the login", "", "服务器拒绝了登录（用户名、密码或密钥不对）"},
    {"user name or password was refused", "", "用户名或密码被拒绝"},
    {"is in another region", "", "桶在另一个区域"},
    {"bucket", "does not exist", "桶不存在"},
    {"bucket", "not found", "桶或文件不存在"},
    {"access is denied", "", "没有权限"},
    {"access denied", "", "没有权限：无法建立文件夹或写入文件"},
    {"host name", "", "找不到这个主机名"},
    {"unreachable or refused the connection", "", "连不上主机（不可达或拒绝连接）"},
    {"did not answer in time", "", "服务器没有及时回应（超时）"},
    {"certificate", "not trusted", "服务器的证书不受信任"},
    {"does not offer TLS", "", "服务器不提供加密连接（TLS）"},
    {"CA file cannot be read", "", "无法读取目标的证书文件（ca=）"},
    {"TLS connection could not be set up", "", "无法建立加密连接"},
    {"secure connection could not be made", "", "无法建立加密连接"},
    {"connection broke off", "", "连接中断"},
    {"disk is full", "", "服务器的磁盘已满"},
    {"storage is full", "", "存储空间已满"},
    {"already on the server", "", "网站上已有同名的另一个文件，没有覆盖"},
    {"another file is", "there", "网站上已有同名的另一个文件，没有覆盖"},
    {"a link stands", "", "它的路径上有链接，没有读取，也没有发送"},
    {"no plain path below the result folder", "", "运行记录里的路径不在结果文件夹下，没有读取"},
    {"not those the run stored", "", "文件与运行时保存的不同，没有发送"},
    {"not the file the run wrote", "", "文件在运行之后被改过，没有发送"},
    {"changed while it was being published", "", "文件在发布时被改动，没有发送"},
    {"the run stored; it was not sent", "", "文件大小与运行时保存的不同，没有发送"},
    {"look finds nothing", "", "服务器接受了上传，查看时却找不到文件"},
    {"took the upload, but holds", "", "服务器接受了上传，但文件大小不对"},
    {"larger than the server takes", "", "文件超过服务器允许的大小"},
    {"a folder on the way is missing", "", "路径上的文件夹不存在"},
    {"folder cannot be made", "", "无法建立文件夹"},
    {"refused to take the file", "", "服务器拒绝接收文件"},
    {"forbids", "", "服务器不允许这样做"},
    {"could not be put under its name", "", "无法以它的名字存放（可能已有同名文件）"},
    {"local file c", "", "本地文件无法读取"},
    {"file cannot be read", "", "本地文件无法读取"},
    {"no such file", "", "服务器上没有这个文件"},
    {"no object under that key", "", "服务器上没有这个文件"},
    {"no publish target is set", "", "还没有设置发布目标"},
    {"no password in a target", "", "目标地址里不能写密码：密码请填在表单里，保存在系统钥匙串"},
    {"unknown scheme", "", "目标地址的协议不认识"},
    {"no scheme", "", "目标地址缺少协议（sftp://、ftp://、dav://、s3:// 等）"},
    {"target \"", "", "目标地址有误"},
    {"server answered", "", "服务器回答了错误"},
};

}  // namespace

std::string PublishRowText(publish::PublishOutcome outcome) {
    switch (outcome) {
        case publish::PublishOutcome::Uploaded:
            return "已上传"_gbk;
        case publish::PublishOutcome::Published:
            return "此前已发布"_gbk;
        case publish::PublishOutcome::AlreadyThere:
            return "网站上已有"_gbk;
        case publish::PublishOutcome::Conflict:
            return "冲突，未覆盖"_gbk;
        case publish::PublishOutcome::Failed:
            return "上传失败"_gbk;
        case publish::PublishOutcome::Stopped:
            return "已停止"_gbk;
        case publish::PublishOutcome::WouldUpload:
            return "将上传"_gbk;
    }
    return {};
}

std::string PublishWords(const std::string& message) {
    for (const Kind& kind : kKinds) {
        if (message.find(kind.fragment) != std::string::npos &&
            message.find(kind.also) != std::string::npos)
            return text::GbkFromUtf8(kind.words);
    }
    // Nothing known: the console says more.
    return "出错了（命令行 --publish 会说明详情）"_gbk;
}

std::string NewHostKeyQuestion(const std::string& fingerprint) {
    return "这个主机的密钥还不认识（不在 ~/.ssh/known_hosts 里），它的指纹是 "_gbk +
           text::GbkFromUtf8(fingerprint) +
           "。\r\n请先确认服务器上显示的指纹与此相同。\r\n"
           "信任它，就把这个密钥记到 ~/.ssh/known_hosts，以后连接这个主机不再询问"
           "（命令行的 --accept-new-host-key 也是这样）；服务器换了密钥时则会拒绝连接。\r\n"
           "是否信任这个主机并记住它的密钥？"_gbk;
}

std::string CopyOutcomeWords(publish::CopyOutcome outcome) {
    switch (outcome) {
        case publish::CopyOutcome::Same:
            return "相同"_gbk;
        case publish::CopyOutcome::Missing:
            return "缺失"_gbk;
        case publish::CopyOutcome::Different:
            return "内容不同"_gbk;
        case publish::CopyOutcome::NotAnImage:
            return "不是图片"_gbk;
        case publish::CopyOutcome::Unreachable:
            return "无法访问"_gbk;
    }
    return {};
}

std::string CopyWhyWords(const publish::CopyCheck& copy) {
    // The piece of the why after its lead-in, up to the first of the stops.
    const auto after = [&copy](std::string_view lead, std::string_view stops) {
        const std::size_t at = copy.why.find(lead);
        if (at == std::string::npos) return std::string();
        const std::string rest = copy.why.substr(at + lead.size());
        return rest.substr(0, rest.find_first_of(stops));
    };
    switch (copy.outcome) {
        case publish::CopyOutcome::Same:
            return {};
        case publish::CopyOutcome::Missing:
            return "公开地址回答状态码 "_gbk + after("answered ", " ,;") + "，没有这个文件"_gbk;
        case publish::CopyOutcome::Different:
            return "网站给出的字节与文件名（CRC-32）所说的不同：可能是占位图或旧的文件"_gbk;
        case publish::CopyOutcome::NotAnImage:
            return "网站把它作为 "_gbk + text::GbkFromUtf8(after("served as ", " ,;")) +
                   " 给出，不是图片"_gbk;
        case publish::CopyOutcome::Unreachable:
            return copy.why == "stopped" ? "已停止"_gbk : PublishWords(copy.why);
    }
    return {};
}

}  // namespace zembrat::ui
