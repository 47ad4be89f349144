// The command line reads a target's secret from the desktop's keyring (a gnome-keyring-daemon on
// a D-Bus session of the test's own) when the environment and the credential files give none:
// the built executable publishes onto a real S3 server with the secret the window kept there.
#include <gtest/gtest.h>

#include "child_process.h"
#include "config/config_store.h"
#include "job/image_names.h"
#include "publish/target_url.h"
#include "support/http_server.h"
#include "support/keyring_session.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/keyring.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPng = "\x89PNG\r\n\x1a\n picture";

TEST(KeyringPublish, TheConsoleReadsTheSecretTheKeyringKeepsForThePlace) {
    KeyringSession keyring;
    ASSERT_TRUE(keyring.started()) << keyring.error();
    S3Server s3;
    ASSERT_TRUE(s3.started()) << s3.error();
    ScopedEnv noKey{"AWS_ACCESS_KEY_ID", nullptr}, noSecret{"AWS_SECRET_ACCESS_KEY", nullptr};
    HttpServer web;
    web.Set("/a.png", Reply::Ok(kPng, "image/png"));
    TempDir dir;
    dir.Write("文章/一.htm"_gbk, "<img src=\"" + web.Url("/a.png") + "\">");
    const std::string settings = dir / "Zembrat.ini";
    {
        config::ConfigStore store;
        ASSERT_TRUE(store.Open(settings, config::DiskFile));
    }
    const std::string target = "s3://" + s3.bucket() + "/site/?endpoint=" + s3.endpoint() +
                               "&style=path&keyid=" + s3.accessKey();
    std::string error;
    const auto parsed = publish::ParseTargetUrl(target, error);
    ASSERT_TRUE(parsed) << error;
    const std::string place = publish::TargetPlace(*parsed);
    const auto run = [&](std::string& out) {
        std::string err;
        const int status = RunToEnd(kProgram,
                                    {"--run", "--publish", target,
                                     text::Utf8FromGbk(dir / "文章"_gbk), "--settings", settings},
                                    dir.path(), &out, &err);
        out += err;
        return status;
    };
    std::string out;

    // Nothing kept: the secret is missing, and the console says where it looked.
    EXPECT_EQ(run(out), 1) << out;
    EXPECT_NE(out.find("no access key"), std::string::npos) << out;

    ASSERT_EQ(ui::KeepSecret(place, s3.secretKey()).answer, ui::KeyringAnswer::Done);
    EXPECT_EQ(run(out), 0) << out;
    const std::string stored = "site/files/img/" + job::ContentName(kPng) + ".png";
    EXPECT_EQ(s3.Object(stored), kPng);

    // The environment comes first: its wrong keys are used, not the keyring's (a new image
    // makes the publish log in).
    web.Set("/b.png", Reply::Ok(kPng + "b", "image/png"));
    dir.Write("文章/二.htm"_gbk, "<img src=\"" + web.Url("/b.png") + "\">");
    ScopedEnv key{"AWS_ACCESS_KEY_ID", s3.accessKey().c_str()};
    ScopedEnv secret{"AWS_SECRET_ACCESS_KEY", "not-the-secret"};
    EXPECT_EQ(run(out), 1) << out;
    EXPECT_NE(out.find("the access key or secret key was refused"), std::string::npos) << out;
}

}  // namespace
}  // namespace zembrat::testing
