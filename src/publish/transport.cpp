#include <memory>

#include "publish/protocol_transports.h"
#include "publish/transport.h"
#include "text/digest.h"

namespace zembrat::publish {

std::string PartName(std::string_view name) {
    // Of one length whatever the name, so that a name the server takes has a part it takes too;
    // the same name has the same part, so a part a stop left is written over by the next try.
    return "." + text::Sha256Hex(name).substr(0, 16) + std::string(kPartEnding);
}

// A transport of its own (a test's) that does not move, delete or list says so.
MoveStatus Transport::Move(const std::string& from, const std::string&, std::string& message) {
    message = "this target cannot move " + from;
    return MoveStatus::Failed;
}

bool Transport::Delete(const std::string& remotePath, std::string& message) {
    message = "this target cannot delete " + remotePath;
    return false;
}

bool Transport::DeleteFolder(const std::string& folder, std::string& message) {
    message = "this target cannot delete the folder " + folder;
    return false;
}

std::optional<std::vector<RemoteEntry>> Transport::List(const std::string& folder,
                                                        std::string& message) {
    message = "this target cannot list " + folder;
    return std::nullopt;
}

std::optional<MoveStatus> LookBeforeMove(Transport& transport, const std::string& from,
                                         const std::string& to, std::string& message) {
    const std::optional<RemoteFile> there = transport.Look(to, message);
    if (!there) return MoveStatus::Failed;
    if (there->exists) return MoveStatus::Taken;
    const std::optional<RemoteFile> source = transport.Look(from, message);
    if (!source) return MoveStatus::Failed;
    if (!source->exists) return MoveStatus::Missing;
    return std::nullopt;
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
