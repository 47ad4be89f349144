// The transport of each protocol; MakeTransport chooses among them by the target's protocol.
#pragma once

#include <memory>

#include "publish/transport.h"

namespace zembrat::publish {

std::unique_ptr<Transport> MakeSftpTransport(const Target& target, const Credentials& credentials);
// Ftp, FtpExplicit and FtpImplicit.
std::unique_ptr<Transport> MakeFtpTransport(const Target& target, const Credentials& credentials);
// Dav and Davs.
std::unique_ptr<Transport> MakeDavTransport(const Target& target, const Credentials& credentials);
std::unique_ptr<Transport> MakeS3Transport(const Target& target, const Credentials& credentials);

}  // namespace zembrat::publish
