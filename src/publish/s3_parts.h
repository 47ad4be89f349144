// The pieces of the S3 transport that need no server: where its keys come from, the address of
// an object and the code of an error answer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "publish/transport.h"

namespace zembrat::publish {

struct AwsKeys {
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken;  // empty: none
};

// AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY (with AWS_SESSION_TOKEN) when both are set, else
// the profile's keys in <home>/.aws/credentials (profile empty: "default"); nullopt and why.
std::optional<AwsKeys> FindAwsKeys(const std::string& home, const std::string& profile,
                                   std::string& why);

// The object key of a remote path: the target's prefix, without a leading "/", then the path.
std::string S3Key(const Target& target, std::string_view remotePath);

// The address of the object with this key (empty key: the bucket), encoded: path style
// endpoint/bucket/key, or virtual-hosted scheme://bucket.endpoint-host/key. Without an endpoint
// the region's AWS endpoint. nullopt when the endpoint is not an http(s) address.
std::optional<std::string> S3Address(const Target& target, std::string_view key);

// One page of a ListObjects answer: the objects right below prefix (names with the prefix taken
// off, each with its size) into files, and the marker of the next page (empty: the last). False
// when the answer is no listing.
bool ReadS3ListingPage(std::string_view body, std::string_view prefix,
                       std::map<std::string, RemoteFile>& files, std::string& nextMarker);

// The <Code> of an S3 error answer, empty when it has none.
std::string S3ErrorCode(std::string_view body);

}  // namespace zembrat::publish
