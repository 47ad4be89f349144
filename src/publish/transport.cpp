#include <memory>

#include "publish/protocol_transports.h"
#include "publish/transport.h"

namespace zembrat::publish {

std::string PartName(std::string_view name) {
    return "." + std::string(name) + ".zembrat-part";
}

std::unique_ptr<Transport> MakeTransport(const Target& target, const Credentials& credentials) {
    switch (target.protocol) {
        case Protocol::Sftp:
            return MakeSftpTransport(target, credentials);
        case Protocol::Ftp:
        case Protocol::FtpExplicit:
        case Protocol::FtpImplicit:
            return MakeFtpTransport(target, credentials);
        case Protocol::Dav:
        case Protocol::Davs:
            return MakeDavTransport(target, credentials);
        case Protocol::S3:
            return MakeS3Transport(target, credentials);
    }
    return nullptr;
}

}  // namespace zembrat::publish
