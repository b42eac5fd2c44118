// A small compressed ECG file whose packed members claim far more than they hold: "/uncompress"
// refuses it with every program it runs (the compressor once per channel, at the same time)
// staying small, and leaves the folder as it was.
#include <random>

#include "formats/tests/cef_test_support.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

using tv::cef_test::Bytes;

TEST_F(CliTest, UncompressOfMembersClaimingGigabytesStaysSmall) {
    write_hive(root / "registry" / "HKLM.reg",
               std::string("[Software\\Torvane Medical\\SZIP]\r\n\"Install Path\"=\"") + TV_SZIP_PROGRAM + "\"\r\n");
    // 100 KB that does not pack, packed by the compressor, then told it holds 800 MB.
    std::mt19937 gen(4);
    std::string noise(100 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(gen());
    write_file(t / "noise", noise);
    const std::string pack = std::string("'") + TV_SZIP_PROGRAM + "' -o4r2b41 '" + (t / "noise").string() + "' '" +
                             (t / "noise.packed").string() + "'";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    const std::string packed_text = read_file(t / "noise.packed");
    Bytes claim(packed_text.begin(), packed_text.end());
    ASSERT_GT(claim.size(), 14u);
    tv::store_le64(&claim[6], 800ull << 20);

    tv::cef_test::CefBuilder b(tv::kCefKindTwelveLead, 8);
    b.block(tv::cef_test::scrambled("--\r\n--\r\nDoe Jane"));
    b.member({}).member({});
    for (int i = 0; i < 8; ++i) {
        b.member(claim, tv::kCefCompressed);
        b.trailer(410, 1, 0);
    }
    b.extra("OTHER.DAT", claim, tv::kCefCompressed);
    const Bytes cef = b.finish();
    EXPECT_LT(cef.size(), 1000u * 1024);
    write_file(t / "in.CEF", std::string(cef.begin(), cef.end()));
    const fs::path out = t / "out";
    fs::create_directories(out);
    write_file(out / "RAWECG1.DAT", "earlier");

    const fs::path peak = t / "peak.txt";
    const auto r = tv::platform::testing::run_captured({TV_PEAK_RSS_PROGRAM, peak.string(), TOLBEX_PROGRAM,
                                                        "/uncompress", (t / "in.CEF").string(), out.string()},
                                                       environment(), t.string(), 120);
    EXPECT_EQ(r.code, 5) << r.err;  // the compressor failed
    const long peak_kb = std::atol(read_file(peak).c_str());
    EXPECT_GT(peak_kb, 0);
    EXPECT_LT(peak_kb, 300 * 1024) << "largest process of the run, KiB";
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"RAWECG1.DAT"});
    EXPECT_EQ(read_file(out / "RAWECG1.DAT"), "earlier");
}

}  // namespace
}  // namespace cli
