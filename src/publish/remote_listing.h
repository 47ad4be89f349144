// Reading what servers answer a listing with: the XML of WebDAV's PROPFIND and S3's
// ListObjectsV2, their dates, and the "ls -l" lines of SFTP and FTP listings.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "publish/transport.h"

namespace zembrat::publish {

// The folder of a path: all of it up to its last "/" included ("a/b/c.png": "a/b/"; "c.png": "").
std::string FolderOf(std::string_view path);
// The last piece of a path ("a/b/c.png": "c.png").
std::string NameOf(std::string_view path);
// Each folder on the way down to folder ("a/b/": "a/", "a/b/"), top down.
std::vector<std::string> FolderLevels(std::string_view folder);

// The text of each element of that local name (whatever its namespace prefix) in xml, in order,
// as it stands (entities not decoded).
std::vector<std::string_view> XmlElements(std::string_view xml, std::string_view local);
// An element's text with its entity references decoded, and its character references below 0x80
// (what S3 and WebDAV servers write so: markup and control characters; any other character
// comes as its UTF-8 bytes); any other reference stays as it is.
std::string XmlText(std::string_view text);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"); nullopt when it is none.
std::optional<std::chrono::system_clock::time_point> HttpDate(std::string_view text);
// An ISO 8601 UTC time as S3 gives it ("2026-12-10T14:30:00.000Z"); nullopt when it is none.
std::optional<std::chrono::system_clock::time_point> IsoDate(std::string_view text);

// One line of a long listing ("-rw-r--r-- 1 owner group 1234 Dec 10 14:30 name"), as OpenSSH's
// SFTP server and FTP servers' LIST give it: its name, whether it is a folder, a file's size (no
// time: a listing tells it in minutes, in a zone it does not name). nullopt for a line that is
// no entry ("total 8"), ".", "..", or anything but a file or a folder (a link).
std::optional<RemoteEntry> LongListingEntry(std::string_view line);
// Every entry of a long listing.
std::vector<RemoteEntry> LongListing(std::string_view listing);

}  // namespace zembrat::publish
