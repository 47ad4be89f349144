#include "platform/user_account.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "support/scoped_env.h"

namespace zembrat::platform {
namespace {

using testing::ScopedEnv;

// What the password database holds for the effective user; empty when it has no entry.
passwd OwnEntry() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? *entry : passwd{};
}

TEST(UserAccount, HomeIsTheEnvironmentsElseThePasswordDatabases) {
    const passwd own = OwnEntry();
    const std::string databaseHome = own.pw_dir ? own.pw_dir : "";
    {
        const ScopedEnv home("HOME", "/srv/someone else");
        EXPECT_EQ(HomeFolder(), "/srv/someone else");
    }
    {
        const ScopedEnv home("HOME", nullptr);
        EXPECT_EQ(HomeFolder(), databaseHome);
    }
    {
        const ScopedEnv home("HOME", "");
        EXPECT_EQ(HomeFolder(), databaseHome);
    }
    EXPECT_EQ(LoginName(), own.pw_name ? own.pw_name : "");
}

}  // namespace
}  // namespace zembrat::platform
