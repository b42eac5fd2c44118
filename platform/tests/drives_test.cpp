#include "platform/drives.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;

TEST(Drives, MapFileGoldenTextAndRoundTrip) {
    TempRoot root;
    std::filesystem::create_directories(root / "card");
    MappedDrive d{'e', root / "card", "OSTRABEL", DriveKind::Removable, 1048576000};
    ASSERT_TRUE(map_drive(d));
    EXPECT_EQ(read_whole_file(root / "drives/E.drive"),
              "folder=" + root / "card" + "\r\nlabel=OSTRABEL\r\nkind=removable\r\ncapacity=1048576000\r\n");
    auto back = mapped_drive('E');
    ASSERT_TRUE(back);
    EXPECT_EQ(back->letter, 'E');
    EXPECT_EQ(back->folder, root / "card");
    EXPECT_EQ(back->label, "OSTRABEL");
    EXPECT_EQ(back->kind, DriveKind::Removable);
    EXPECT_EQ(back->capacity, 1048576000u);
    EXPECT_TRUE(mapped_drive('e'));

    ASSERT_TRUE(map_drive({'A', "/media/floppy", "", DriveKind::Floppy, 0}));
    EXPECT_EQ(read_whole_file(root / "drives/A.drive"), "folder=/media/floppy\r\nlabel=\r\nkind=floppy\r\n");
    auto all = mapped_drives();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].letter, 'A');
    EXPECT_EQ(all[1].letter, 'E');

    EXPECT_TRUE(unmap_drive('a'));
    EXPECT_TRUE(unmap_drive('A'));
    EXPECT_FALSE(mapped_drive('A'));
    EXPECT_EQ(mapped_drives().size(), 1u);
}

TEST(Drives, BadEntriesAreRefused) {
    TempRoot root;
    EXPECT_FALSE(map_drive({'1', "/x", "", DriveKind::Fixed, 0}));
    EXPECT_FALSE(map_drive({'F', "", "", DriveKind::Fixed, 0}));
    EXPECT_FALSE(map_drive({'F', "relative/x", "", DriveKind::Fixed, 0}));
    EXPECT_FALSE(map_drive({'F', "/x\n", "", DriveKind::Fixed, 0}));
    EXPECT_FALSE(map_drive({'F', "/x", "L\r\nfolder=/etc", DriveKind::Fixed, 0}));
    EXPECT_FALSE(unmap_drive('?'));
    EXPECT_FALSE(mapped_drive('?'));

    std::filesystem::create_directories(root / "drives");
    ASSERT_TRUE(atomic_write_file(root / "drives/G.drive", "label=no folder\n"));
    ASSERT_TRUE(atomic_write_file(root / "drives/H.drive", "folder=relative\n"));
    ASSERT_TRUE(atomic_write_file(root / "drives/I.drive",
                                  "junk\nfolder=/srv/i/\nkind=tape\ncapacity=99999999999999999999999\nx=y"));
    EXPECT_FALSE(mapped_drive('G'));
    EXPECT_FALSE(mapped_drive('H'));
    auto i = mapped_drive('I');
    ASSERT_TRUE(i);
    EXPECT_EQ(i->folder, "/srv/i");
    EXPECT_EQ(i->kind, DriveKind::Unknown);
    EXPECT_EQ(i->capacity, 0u);
}

TEST(Drives, ExpandDrivePath) {
    TempRoot root;
    ASSERT_TRUE(map_drive({'E', "/media/card", "", DriveKind::Removable, 0}));
    EXPECT_EQ(expand_drive_path("E:"), "/media/card");
    EXPECT_EQ(expand_drive_path("e:/RAWECG1.DAT"), "/media/card/RAWECG1.DAT");
    EXPECT_EQ(expand_drive_path("E:/"), "/media/card/");
    EXPECT_EQ(expand_drive_path("F:/x"), "F:/x");  // not mapped
    EXPECT_EQ(expand_drive_path("E:x"), "E:x");
    EXPECT_EQ(expand_drive_path("/data/E:"), "/data/E:");
    EXPECT_EQ(expand_drive_path("1:/x"), "1:/x");
    EXPECT_EQ(expand_drive_path(""), "");
}

TEST(Drives, VolumeOfAPath) {
    TempRoot root;
    auto plain = volume_of(root.path());
    ASSERT_TRUE(plain);
    EXPECT_GT(plain->total_bytes, 0u);
    EXPECT_LE(plain->free_bytes, plain->total_bytes);
    EXPECT_TRUE(plain->label.empty());
    EXPECT_NE(plain->kind, DriveKind::Unknown);
    EXPECT_FALSE(volume_of(root / "missing"));

    std::filesystem::create_directories(root / "card/sub");
    std::filesystem::create_directories(root / "cardx");
    ASSERT_TRUE(map_drive({'E', root / "card", "OSTRABEL", DriveKind::Removable, 4096}));
    auto card = volume_of(root / "card/sub");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->kind, DriveKind::Removable);
    EXPECT_EQ(card->label, "OSTRABEL");
    EXPECT_EQ(card->total_bytes, 4096u);
    EXPECT_LE(card->free_bytes, 4096u);
    auto via_letter = volume_of("E:/sub");
    ASSERT_TRUE(via_letter);
    EXPECT_EQ(via_letter->label, "OSTRABEL");

    // A sibling whose name merely begins like the folder is not on the card.
    auto sibling = volume_of(root / "cardx");
    ASSERT_TRUE(sibling);
    EXPECT_TRUE(sibling->label.empty());
    EXPECT_FALSE(mapped_drive_of(root / "cardx"));
    EXPECT_EQ(mapped_drive_of(root / "card/../card/sub")->letter, 'E');

    // The innermost map wins; without a capacity the file system's size stays.
    ASSERT_TRUE(map_drive({'F', root / "card/sub", "INNER", DriveKind::Fixed, 0}));
    auto inner = volume_of(root / "card/sub");
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->label, "INNER");
    EXPECT_EQ(inner->kind, DriveKind::Fixed);
    EXPECT_EQ(inner->total_bytes, plain->total_bytes);
}

}  // namespace
}  // namespace tv::platform
