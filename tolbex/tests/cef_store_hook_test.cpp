// The application object gives the store routine its compressed-ECG unpacker: a .CEF stored as a
// file keeps its copy in the report and is unpacked beside it.
#include "common/files.h"
#include "common/registry.h"
#include "common/scramble.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

class CefStoreHookTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        tv::reset_cached_roots();
        write_hive(root / "registry" / "HKLM.reg",
                   "[Software\\Torvane Medical\\SZIP]\r\n\"Install Path\"=\"" TV_SZIP_PROGRAM "\"\r\n");
    }
    void TearDown() override {
        tv::set_cef_unpacker(nullptr);
        tv::reset_cached_roots();
        CliTest::TearDown();
    }
};

// One stored channel, stored members only, checksum filled in.
std::string stored_cef(const std::string& patient_text, const std::string& channel) {
    std::string b;
    put_u32(b, 0);
    put_u32(b, 108);
    put_u32(b, 1);
    b += std::string("Compressed ECG\0\0", 16);
    std::string description = "Hook";
    description.resize(64, '\0');
    b += description;
    for (std::uint32_t v : {1700000000u, 11u, 1u, 0u}) put_u32(b, v);
    std::string text = patient_text;
    tv::scramble_bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    put_u32(b, static_cast<std::uint32_t>(text.size()));
    b += text;
    for (int i = 0; i < 4; ++i) put_u32(b, 0);  // no sound, no events
    put_u32(b, static_cast<std::uint32_t>(channel.size()));
    put_u32(b, 0);
    b += channel;
    for (std::uint32_t v : {410u, 1u, 0u, 0u}) put_u32(b, v);
    std::uint32_t sum = 0;
    for (std::size_t i = 4; i < b.size(); i += 4) {
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 4 && i + k < b.size(); ++k)
            w |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[i + k])) << (8 * k);
        sum ^= w;
    }
    std::string head;
    put_u32(head, sum);
    return b.replace(0, 4, head);
}

TEST_F(CefStoreHookTest, CompressedFileIsUnpackedBesideItsCopy) {
    const fs::path archive = t / "A";
    fs::create_directories(archive);
    const std::string channel("\x10\x00\x60\x00", 4);
    write_file(t / "in.CEF", stored_cef("--\r\n--\r\nDoe Jane", channel));

    // Without the application object nobody can unpack: the store fails and leaves nothing but
    // the lock file it took first.
    EXPECT_EQ(tv::store_report_in_archive(archive.string(), (t / "in.CEF").string(), "d", 10, 1700000000,
                                          tv::kReportCef),
              tv::kStoreCopyFailed);
    fs::remove(archive / tv::kIndexLockFileName);
    EXPECT_TRUE(fs::is_empty(archive));

    tv::CTolbexApp app;
    std::string folder;
    ASSERT_EQ(tv::store_report_in_archive(archive.string(), (t / "in.CEF").string(), "d", 10, 1700000000,
                                          tv::kReportCef, &folder),
              tv::kStoreOk);
    EXPECT_EQ(fs::path(folder).extension(), ".CEF");
    EXPECT_EQ(read_file(fs::path(folder) / "in.CEF"), read_file(t / "in.CEF"));
    EXPECT_EQ(read_file(fs::path(folder) / "RAWECG1.DAT"), channel);
    EXPECT_EQ(read_file(fs::path(folder) / "PATIENT.TXT"), "--\r\n--\r\nDoe Jane");
    EXPECT_EQ(read_file(fs::path(folder) / "CEFDESC.TXT"), "Hook");
    EXPECT_TRUE(temp_leftovers().empty());
}

}  // namespace
}  // namespace cli
