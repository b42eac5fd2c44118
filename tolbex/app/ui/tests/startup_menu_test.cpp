// The start-up pruning of the main menu: the configuration commands stay only where there is a
// configuration to change and browsing is on.
#include <gtest/gtest.h>

#include "tolbex/app/ui/menus.h"

namespace tv::menu {
namespace {

TEST(StartupMenuTest, ConfigurationCommandsNeedAConfigurationAndBrowsing) {
    struct Case {
        bool archive_configured, browse, kept;
    };
    const Case cases[] = {{true, true, true}, {false, true, false}, {true, false, false}, {false, false, false}};
    for (const Case& c : cases) {
        fw::MenuModel menu = build_main_menu();
        MenuOffer offer;
        offer.archive_configured = c.archive_configured;
        offer.browse = c.browse;
        prune_startup_menu(menu, offer);
        for (fw::CommandId id : {kAddGroupToConfig, kRemoveGroupFromConfig})
            EXPECT_EQ(fw::find_menu_command(menu, id) != nullptr, c.kept)
                << id << " configured " << c.archive_configured << " browse " << c.browse;
        // The group itself can always be deleted from its window.
        EXPECT_NE(fw::find_menu_command(menu, kDeleteGroup), nullptr);
    }
}

}  // namespace
}  // namespace tv::menu
