// Where a target's secret comes from: the environment and the credential files first, the
// desktop's keyring only when they give none (and then under the target's place).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "publish/secret_files.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace zembrat::publish {
namespace {

TEST(KeyringPassword, TheKeyringIsAskedAfterTheEnvironmentAndTheCredentialFiles) {
    struct Case {
        const char* what;
        const char* url;
        const char* awsKey;          // AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or none
        const char* awsCredentials;  // ~/.aws/credentials, or none
        unsigned awsMode;
        const char* netrc;     // ~/.netrc, or none
        const char* typed;     // the password the window was given
        std::string expected;  // the password the transport gets
        bool asked;            // whether the keyring was asked
    };
    const std::string kept = "from-the-keyring";
    const Case cases[] = {
        {"s3, nothing else", "s3://b/p/?endpoint=http://127.0.0.1:9&keyid=K", nullptr, nullptr, 0,
         nullptr, "", kept, true},
        {"s3, keys in the environment", "s3://b/?endpoint=http://127.0.0.1:9", "AKIA", nullptr, 0,
         nullptr, "", "", false},
        {"s3, a credentials file", "s3://b/?endpoint=http://127.0.0.1:9", nullptr,
         "[default]\naws_access_key_id = A\naws_secret_access_key = S\n", 0600, nullptr, "", "",
         false},
        {"s3, a credentials file of another profile", "s3://b/?endpoint=http://127.0.0.1:9",
         nullptr, "[work]\naws_access_key_id = A\naws_secret_access_key = S\n", 0600, nullptr, "",
         kept, true},
        {"s3, a credentials file others read: refused there", "s3://b/?endpoint=http://h:9",
         nullptr, "[default]\naws_access_key_id = A\naws_secret_access_key = S\n", 0644, nullptr,
         "", "", false},
        {"ftp, a .netrc entry for the host", "ftp://me@files.example/", nullptr, nullptr, 0,
         "machine files.example login me password pw\n", "", "", false},
        {"ftp, a .netrc for another host", "ftpes://me@files.example/", nullptr, nullptr, 0,
         "machine other.example login me password pw\n", "", kept, true},
        {"webdav, a .netrc default", "davs://me@dav.example/", nullptr, nullptr, 0,
         "default login me password pw\n", "", "", false},
        {"sftp logs in with keys", "sftp://me@h/", nullptr, nullptr, 0, nullptr, "", "", false},
        {"a password typed in the window comes first", "dav://me@h/", nullptr, nullptr, 0, nullptr,
         "typed", "typed", false},
    };
    for (const Case& c : cases) {
        testing::TempDir home;
        testing::ScopedEnv key{"AWS_ACCESS_KEY_ID", c.awsKey};
        testing::ScopedEnv secret{"AWS_SECRET_ACCESS_KEY", c.awsKey ? "secret" : nullptr};
        if (c.awsCredentials) {
            home.Write(".aws/credentials", c.awsCredentials);
            ::chmod((home.path() + "/.aws/credentials").c_str(), c.awsMode);
        }
        if (c.netrc) {
            home.Write(".netrc", c.netrc);
            ::chmod((home.path() + "/.netrc").c_str(), 0600);
        }
        std::string error;
        const std::optional<Target> target = ParseTargetUrl(c.url, error);
        ASSERT_TRUE(target) << error;
        std::vector<std::string> asked;
        const KeyringLookup keyring = [&](const std::string& place) {
            asked.push_back(place);
            return std::optional<std::string>(kept);
        };
        Credentials credentials{home.path(), c.typed, false};
        EXPECT_EQ(KeyringPassword(*target, credentials, keyring), c.expected) << c.what;
        EXPECT_EQ(asked, c.asked ? std::vector<std::string>{TargetPlace(*target)}
                                 : std::vector<std::string>{})
            << c.what;
    }
}

}  // namespace
}  // namespace zembrat::publish
