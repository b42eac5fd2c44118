// Whether the mail commands stay on the menu: "[Mail] MAPI" in the user's hive decides, and
// without it the mail layer's send command being installed.
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/registry.h"
#include "platform/registry.h"
#include "testing/app_test_root.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/mail/mail_transport.h"

namespace tv::menu {
namespace {

namespace fs = std::filesystem;
constexpr const char* kMapiKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem";

class MailMenuTest : public testing_root::RootTest {};

TEST_F(MailMenuTest, MapiEntryOrInstalledSendCommandOffersMail) {
    const fs::path command = t / "sendmail";
    testing_root::write_file(command, "#!/bin/sh\ncat >/dev/null\n");
    ::chmod(command.c_str(), 0755);
    const std::string missing = (t / "none").string();
    struct Case {
        const char* mapi;  // nullptr: no entry
        bool dword;
        std::string send_command;
        bool offered;
    };
    const Case cases[] = {
        {nullptr, false, command.string() + " -t -i", true},
        {nullptr, false, missing, false},
        {"0", false, command.string(), false},
        {"1", false, missing, true},
        {"0", true, command.string(), false},
        {"1", true, missing, true},
    };
    for (const Case& c : cases) {
        platform::registry().delete_value(HKEY_CURRENT_USER, kMapiKey, "MAPI");
        if (c.mapi && c.dword) {
            ASSERT_TRUE(reg_set_dword(HKEY_CURRENT_USER, kMapiKey, "MAPI", std::atoi(c.mapi)));
        } else if (c.mapi) {
            ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, kMapiKey, "MAPI", c.mapi));
        }
        ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, c.send_command));
        EXPECT_EQ(is_mail_configured(), c.offered) << (c.mapi ? c.mapi : "none") << " " << c.send_command;

        fw::MenuModel menu = build_main_menu();
        MenuOffer offer;
        offer.mail = is_mail_configured();
        prune_startup_menu(menu, offer);
        for (fw::CommandId id : {kSendMail, kItemSendMail, kMailSettings, kReceiveMail})
            EXPECT_EQ(fw::find_menu_command(menu, id) != nullptr, c.offered) << id;
    }
}

}  // namespace
}  // namespace tv::menu
