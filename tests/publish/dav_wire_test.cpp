#include <gtest/gtest.h>
#include <sys/socket.h>

#include <map>
#include <mutex>

#include "publish/protocol_transports.h"
#include "support/raw_server.h"
#include "support/temp_dir.h"
#include "upload_helpers.h"

namespace zembrat::publish {
namespace {

// A WebDAV server of answers set per "METHOD target", 404 for any other request; it keeps the
// bodies that came.
class ScriptedDav {
  public:
    explicit ScriptedDav(std::map<std::string, int> answers)
        : answers_(std::move(answers)), server_([this](testing::RawConnection& c) { Serve(c); }) {}
    int port() const { return server_.port(); }
    std::vector<std::string> Heads() const { return server_.RequestHeads(); }
    std::vector<std::string> Bodies() const {
        std::lock_guard lock(mutex_);
        return bodies_;
    }

  private:
    void Serve(testing::RawConnection& c) {
        for (std::string head; !(head = c.ReadRequestHead()).empty();) {
            const std::string line = head.substr(0, head.find(' ', head.find(' ') + 1));
            std::size_t length = 0;
            if (const auto at = head.find("Content-Length: "); at != std::string::npos)
                length = std::stoul(head.substr(at + 16));
            std::string body(length, '\0');
            for (std::size_t got = 0; got < length;) {
                const auto n = ::recv(c.fd(), body.data() + got, length - got, 0);
                if (n <= 0) return;
                got += static_cast<std::size_t>(n);
            }
            {
                std::lock_guard lock(mutex_);
                bodies_.push_back(body);
            }
            const auto answer = answers_.find(line);
            const int status = answer == answers_.end() ? 404 : answer->second;
            if (!c.Send("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: 0\r\n\r\n"))
                return;
        }
    }

    std::map<std::string, int> answers_;
    mutable std::mutex mutex_;
    std::vector<std::string> bodies_;
    testing::RawServer server_;
};

std::string FirstLine(const std::string& head) {
    return head.substr(0, head.find("\r\n"));
}

TEST(DavWire, FoldersAreMadeOnceALevelThenAPartIsPutAndMovedWithoutOverwriting) {
    const std::string part = "/site/%E5%9B%BE/.a%20b.png.zembrat-part";
    const std::string part2 = "/site/%E5%9B%BE/.c.png.zembrat-part";
    ScriptedDav server({{"MKCOL /site/", 405},  // already there
                        {"MKCOL /site/%E5%9B%BE/", 201},
                        {"PUT " + part, 507},
                        {"PUT " + part2, 201},
                        {"MOVE " + part2, 201}});
    testing::TempDir local;
    Target target;
    target.name = "wd";
    target.protocol = Protocol::Dav;
    target.host = "127.0.0.1";
    target.port = server.port();
    target.user = "me";
    target.path = "/site/";
    auto transport = MakeDavTransport(target, {local.path(), "pw", false});

    const auto file = WriteFile(local / "f", "png bytes");
    UploadResult result = transport->Upload(file, "图/a b.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_EQ(result.message, "\"wd\": the server's disk is full (507)");
    result = transport->Upload(file, "图/c.png", {});
    EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;

    const auto heads = server.Heads();
    std::vector<std::string> seen;
    for (const auto& head : heads) seen.push_back(FirstLine(head));
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "MKCOL /site/ HTTP/1.1", "MKCOL /site/%E5%9B%BE/ HTTP/1.1",
                        "PUT " + part + " HTTP/1.1", "DELETE " + part + " HTTP/1.1",
                        "PUT " + part2 + " HTTP/1.1", "MOVE " + part2 + " HTTP/1.1"}));
    ASSERT_EQ(heads.size(), 6u);
    EXPECT_EQ(server.Bodies().at(2), "png bytes");
    EXPECT_NE(heads[2].find("Authorization: Basic bWU6cHc=\r\n"), std::string::npos);  // me:pw
    const std::string destination =
        "Destination: http://127.0.0.1:" + std::to_string(server.port()) +
        "/site/%E5%9B%BE/c.png\r\n";
    EXPECT_NE(heads[5].find(destination), std::string::npos) << heads[5];
    EXPECT_NE(heads[5].find("Overwrite: F"), std::string::npos) << heads[5];
}

}  // namespace
}  // namespace zembrat::publish
