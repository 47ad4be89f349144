#include "support/vsftpd_server.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace zembrat::testing {
namespace {

constexpr char kVsftpd[] = "/usr/sbin/vsftpd";
constexpr char kOpenssl[] = "/usr/bin/openssl";
// vsftpd's anonymous user, made by Debian's package.
constexpr char kFtpUser[] = "ftp";

}  // namespace

VsftpdServer::VsftpdServer(FtpSecurity security, const std::string& password) {
    if (::access(kVsftpd, X_OK) != 0) {
        error_ = "vsftpd is not installed (Debian vsftpd)";
        return;
    }
    const passwd* ftp = ::getpwnam(kFtpUser);
    if (!ftp) {
        error_ = "there is no user \"ftp\" for vsftpd's anonymous uploads";
        return;
    }
    if (::geteuid() != 0) {
        error_ = "vsftpd changes to the ftp user, which needs root";
        return;
    }
    const std::string p = dir_.path();
    std::error_code ec;
    std::filesystem::create_directories(p + "/root/pub", ec);
    std::filesystem::create_directories(p + "/empty", ec);
    // The root stays the server's own (vsftpd refuses a root the anonymous user can write);
    // pub belongs to the anonymous user.
    ::chmod(p.c_str(), 0755);
    ::chmod((p + "/root").c_str(), 0755);
    ::chmod((p + "/empty").c_str(), 0755);
    if (::chown(uploads().c_str(), ftp->pw_uid, ftp->pw_gid) != 0) {
        error_ = "cannot give pub to the ftp user";
        return;
    }
    dir_.Write("passwords", password + "\n");
    port_ = FreeLoopbackPort();
    std::ostringstream conf;
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
         << "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
         << "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
         << "anon_umask=022\nanon_root=" << p << "/root\n"
         << "no_anon_password=NO\nsecure_email_list_enable=YES\nemail_password_file=" << p
         << "/passwords\nsecure_chroot_dir=" << p << "/empty\n"
         << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
         << "pasv_enable=YES\npasv_address=127.0.0.1\nconnect_from_port_20=NO\n"
         << "xferlog_enable=NO\nvsftpd_log_file=" << p << "/vsftpd.log\n";
    if (security != FtpSecurity::Plain) {
        std::string output;
        if (!RunToEnd({kOpenssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                       p + "/key.pem", "-out", certificate(), "-days", "2", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                      &output)) {
            error_ = "openssl could not make a certificate: " + output;
            return;
        }
        conf << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
             << "force_anon_data_ssl=YES\nrequire_ssl_reuse=NO\nssl_ciphers=HIGH\n"
             << "rsa_cert_file=" << certificate() << "\nrsa_private_key_file=" << p << "/key.pem\n";
        if (security == FtpSecurity::ImplicitTls) conf << "implicit_ssl=YES\n";
    }
    dir_.Write("vsftpd.conf", conf.str());
    process_.Start({kVsftpd, p + "/vsftpd.conf"}, p + "/out.log", port_, error_);
}

}  // namespace zembrat::testing
