#include "platform/account.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "testing/pam_test_config.h"
#include "testing/test_accounts.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing_pam::current_logon_name;
using testing_pam::PamRule;
using testing_pam::PamTestConfig;

TEST(Account, FullNameOfAnAccountAndNoneForUnknownNames) {
    const std::string me = current_logon_name();
    ASSERT_FALSE(me.empty());
    EXPECT_TRUE(account_full_name(me));
    EXPECT_FALSE(account_full_name(""));
    EXPECT_FALSE(account_full_name("no-such-account-here"));
}

TEST(Account, PasswordCheckFollowsTheServiceAndWipesThePassword) {
    testing::TempRoot root;
    PamTestConfig pam(std::filesystem::path(root.path()) / "pam.d", PamRule::Permit);
    struct Case {
        PamRule rule;
        PasswordCheck expected;
    };
    for (const Case& c : {Case{PamRule::Permit, PasswordCheck::Right}, Case{PamRule::Deny, PasswordCheck::Wrong}}) {
        pam.set(c.rule);
        std::string password = "secret";
        EXPECT_EQ(check_password(current_logon_name(), password).outcome, c.expected);
        EXPECT_TRUE(password.empty());
    }
}

TEST(Account, AServiceThatCannotBeLoadedIsAnErrorWithPamsText) {
    testing::TempRoot root;
    PamTestConfig pam(std::filesystem::path(root.path()) / "pam.d", PamRule::Permit);
    pam.write("pam_no_such_module_here.so");
    std::string password = "secret";
    const PasswordResult r = check_password(current_logon_name(), password);
    EXPECT_EQ(r.outcome, PasswordCheck::Error);
    EXPECT_FALSE(r.message.empty());
    EXPECT_TRUE(password.empty());
}

// The real check of the system's passwords, where the process can run it: a wrong password of
// the account the test runs as is refused.
TEST(Account, RealUnixCheckRefusesAWrongPassword) {
    bool have_module = false;
    for (const char* dir : {"/lib/x86_64-linux-gnu/security", "/usr/lib/x86_64-linux-gnu/security", "/lib/security",
                            "/usr/lib/security", "/lib64/security", "/usr/lib64/security"})
        have_module = have_module || std::filesystem::exists(std::string(dir) + "/pam_unix.so");
    if (!have_module) GTEST_SKIP() << "pam_unix.so is not installed";
    testing::TempRoot root;
    PamTestConfig pam(std::filesystem::path(root.path()) / "pam.d", PamRule::Deny);
    pam.write("pam_unix.so");
    std::string password = "surely not this account's password 8c1f";
    const PasswordResult r = check_password(current_logon_name(), password);
    if (r.outcome == PasswordCheck::Error) GTEST_SKIP() << "pam_unix cannot check here: " << r.message;
    EXPECT_EQ(r.outcome, PasswordCheck::Wrong);
}

// A real account's password through the system's own pam_unix, as Sign checks it: the right one
// is taken and a wrong one refused, in this build too (a sanitizer build once crashed in crypt_r).
TEST(Account, RealUnixCheckTakesARealAccountsPassword) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "no accounts can be made here";
    ASSERT_TRUE(accounts.set_password(0, "Plum-tree 42"));
    testing::TempRoot root;
    PamTestConfig pam(std::filesystem::path(root.path()) / "pam.d", PamRule::Deny);
    pam.write("pam_unix.so");
    for (const auto& [password, expected] :
         {std::pair{"Plum-tree 42", PasswordCheck::Right}, std::pair{"Plum-tree 43", PasswordCheck::Wrong}}) {
        std::string typed = password;
        const PasswordResult r = check_password(accounts.name(0), typed);
        EXPECT_EQ(r.outcome, expected) << password << ": " << r.message;
    }
}

}  // namespace
}  // namespace tv::platform
