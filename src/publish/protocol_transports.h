// The transport of each protocol (MakeTransport chooses among them by the target's protocol),
// and the part name they share.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "publish/transport.h"

namespace zembrat::publish {

std::unique_ptr<Transport> MakeSftpTransport(const Target& target, const Credentials& credentials);
// Ftp, FtpExplicit and FtpImplicit.
std::unique_ptr<Transport> MakeFtpTransport(const Target& target, const Credentials& credentials);
// Dav and Davs.
std::unique_ptr<Transport> MakeDavTransport(const Target& target, const Credentials& credentials);
std::unique_ptr<Transport> MakeS3Transport(const Target& target, const Credentials& credentials);

// The name an upload is written under, in the folder of its final name, before it is renamed to
// that name: every transport that renames uses it, so a part left by a stop is always told apart.
std::string PartName(std::string_view name);

}  // namespace zembrat::publish
