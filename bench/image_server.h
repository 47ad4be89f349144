// What the web benchmarks share: a loopback server's image under many addresses.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/http_server.h"

namespace zembrat::bench {

struct ImageUrls {
    std::size_t imageSize = 0;
    std::vector<std::string> urls;  // each its own address of the one image
};

// Has server answer /img.jpg with a 20 KB image, each answer delayed by delay; the addresses of
// `requests` downloads of it. Nothing (and a line on standard error) when the server is down.
inline std::optional<ImageUrls> ServeImage(testing::HttpServer& server, int requests,
                                           std::chrono::milliseconds delay = {}) {
    if (!server.started()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return std::nullopt;
    }
    std::string image(20 * 1024, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 % 251);
    testing::Reply reply = testing::Reply::Ok(image, "image/jpeg");
    reply.delay = delay;
    server.Set("/img.jpg", reply);
    ImageUrls out{image.size(), {}};
    for (int i = 0; i < requests; ++i)
        out.urls.push_back(server.Url("/img.jpg?n=" + std::to_string(i)));
    return out;
}

}  // namespace zembrat::bench
