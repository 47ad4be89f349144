// One real publishing server of each protocol on 127.0.0.1 (sshd, vsftpd, the S3 server, nginx's
// WebDAV, and rclone's), each with a folder "site/" as a publish target's base: its target URL, the
// credentials that log in, and what the server holds there, read back from its own disk (S3: with a
// request of its own). For tests that run the same steps over every protocol.
#pragma once

#include <unistd.h>

#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "publish/transport.h"
#include "support/dav_server.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/sshd_server.h"
#include "support/vsftpd_server.h"

namespace zembrat::testing {

enum class SiteKind { Sftp, Ftp, S3, Dav, RcloneDav };

inline const char* SiteKindName(SiteKind kind) {
    switch (kind) {
        case SiteKind::Sftp:
            return "Sftp";
        case SiteKind::Ftp:
            return "Ftp";
        case SiteKind::S3:
            return "S3";
        case SiteKind::Dav:
            return "Dav";
        case SiteKind::RcloneDav:
            return "RcloneDav";
    }
    return "";
}

inline void PrintTo(SiteKind kind, std::ostream* out) {
    *out << SiteKindName(kind);
}

class PublishSite {
  public:
    // home: the user's home folder for the credentials (keys and known_hosts are written there).
    PublishSite(SiteKind kind, const std::string& home) : kind_(kind) {
        credentials_.home = home;
        switch (kind) {
            case SiteKind::Sftp: {
                if (::geteuid() != 0) {
                    error_ = "sshd needs root for its privilege separation";
                    return;
                }
                sshd_ = std::make_unique<SshdServer>();
                if (!sshd_->started()) {
                    error_ = sshd_->error();
                    return;
                }
                const std::string key = SshdServer::MakeUserKey(home + "/.ssh");
                if (key.empty() || !sshd_->Authorize(key)) error_ = "no user key for sshd";
                std::ofstream(home + "/.ssh/known_hosts") << sshd_->KnownHostsLine() << "\n";
                url_ = "sftp://root@127.0.0.1:" + std::to_string(sshd_->port()) + sshd_->root() +
                       "/site/";
                disk_ = sshd_->root() + "/site";
                break;
            }
            case SiteKind::Ftp:
                if (::geteuid() != 0) {
                    error_ = "vsftpd changes to its ftp user, which needs root";
                    return;
                }
                ftp_ = std::make_unique<VsftpdServer>(FtpSecurity::Plain);
                if (!ftp_->started()) {
                    error_ = ftp_->error();
                    return;
                }
                credentials_.password = "s3cret";
                url_ = "ftp://" + std::string(VsftpdServer::kUser) +
                       "@127.0.0.1:" + std::to_string(ftp_->port()) + "/pub/site/";
                disk_ = ftp_->uploads() + "/site";
                break;
            case SiteKind::S3:
                s3_ = std::make_unique<S3Server>();
                if (!s3_->started()) {
                    error_ = s3_->error();
                    return;
                }
                keys_[0] =
                    std::make_unique<ScopedEnv>("AWS_ACCESS_KEY_ID", s3_->accessKey().c_str());
                keys_[1] =
                    std::make_unique<ScopedEnv>("AWS_SECRET_ACCESS_KEY", s3_->secretKey().c_str());
                url_ = "s3://" + s3_->bucket() + "/site/?endpoint=" + s3_->endpoint() +
                       "&region=us-east-1";
                break;
            case SiteKind::Dav:
            case SiteKind::RcloneDav:
                dav_ = std::make_unique<DavServer>(kind == SiteKind::Dav ? DavKind::Nginx
                                                                         : DavKind::Rclone);
                if (!dav_->started()) {
                    error_ = dav_->error();
                    return;
                }
                credentials_.password = dav_->password();
                url_ = "dav://" + dav_->user() + "@127.0.0.1:" + std::to_string(dav_->port()) +
                       "/site/";
                disk_ = dav_->root() + "/site";
                break;
        }
    }
    PublishSite(const PublishSite&) = delete;
    PublishSite& operator=(const PublishSite&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    SiteKind kind() const { return kind_; }
    const std::string& url() const { return url_; }
    const publish::Credentials& credentials() const { return credentials_; }
    // The site's folder on the server's disk (a native path; empty for S3).
    const std::string& disk() const { return disk_; }

    // The bytes the server holds at path below the site; nullopt when there is no such file.
    std::optional<std::string> Read(const std::string& path) const {
        if (s3_) return s3_->Object("site/" + path);
        std::ifstream in(disk_ + "/" + path, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    SiteKind kind_;
    ScopedEnv noAgent_{"SSH_AUTH_SOCK", nullptr};
    ScopedEnv noToken_{"AWS_SESSION_TOKEN", nullptr};
    std::unique_ptr<SshdServer> sshd_;
    std::unique_ptr<VsftpdServer> ftp_;
    std::unique_ptr<S3Server> s3_;
    std::unique_ptr<DavServer> dav_;
    std::unique_ptr<ScopedEnv> keys_[2];
    publish::Credentials credentials_;
    std::string url_, disk_, error_;
};

}  // namespace zembrat::testing
