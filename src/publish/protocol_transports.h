// The transport of each protocol (MakeTransport chooses among them by the target's protocol),
// and the part name they share.
#pragma once

#include <map>
#include <memory>
#include <optional>
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

// A folder's files from an SFTP listing in the long form OpenSSH's server gives ("-rw-r--r--  1
// owner group 20480 Dec 10 14:00 name"): each name with its size (a regular file's only); nullopt
// when a line is of another form.
std::optional<std::map<std::string, RemoteFile>> ParseLongListing(std::string_view listing);

// The name an upload is written under, in the folder of its final name, before it is renamed to
// that name: every transport that renames uses it, so a part left by a stop is always told apart
// (by its ending).
std::string PartName(std::string_view name);
inline constexpr std::string_view kPartEnding = ".zembrat-part";

}  // namespace zembrat::publish
