// A compressed ECG file whose packed patient events claim 800 MB: the card program refuses it,
// with the compressor it runs staying small.
#include <random>

#include "common/registry.h"
#include "formats/tests/cef_test_support.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;

TEST_F(VondTest, PackedMemberClaimingGigabytesStaysSmall) {
    ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", SZIP_PROGRAM));
    std::mt19937 gen(6);
    std::string noise(100 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(gen());
    const fs::path in = t / "noise", packed = t / "noise.packed";
    cardgen::write_bytes(in, noise.data(), noise.size());
    const std::string pack =
        std::string("'") + SZIP_PROGRAM + "' -o4r2b41 '" + in.string() + "' '" + packed.string() + "'";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    tv::cef_test::Bytes claim = tv::cef_test::read_bytes(packed.string());
    ASSERT_GT(claim.size(), 14u);
    tv::store_le64(&claim[6], 800ull << 20);

    tv::cef_test::CefBuilder b(tv::kCefKindCard, 3);
    b.block(tv::cef_test::scrambled("Smith\r\nJohn"));
    b.member({});
    b.member(claim, tv::kCefCompressed);  // PATEVENT.DAT
    for (int c = 0; c < 3; ++c) b.member({}).trailer(410, 1, 0);
    b.extra("PATSUMM.DAT", tv::cef_test::to_bytes("DOE\r\n42\r\n"));
    const tv::cef_test::Bytes cef = b.finish();
    const fs::path file = t / "X.CEF";
    cardgen::write_bytes(file, cef.data(), cef.size());

    const fs::path peak = t / "peak.txt";
    program = TV_PEAK_RSS_PROGRAM;
    const RunResult r =
        run({peak.string(), VOND_PROGRAM, "/dir=" + out.string(), "/ipdir=" + file.string(), "/readpat=path"});
    EXPECT_EQ(r.code, 121) << r.err;
    const long peak_kb = std::atol(slurp(peak).c_str());
    EXPECT_GT(peak_kb, 0);
    EXPECT_LT(peak_kb, 300 * 1024) << "largest process of the run, KiB";
    EXPECT_FALSE(fs::exists(out / "PATEVENT.DAT"));
}

}  // namespace
