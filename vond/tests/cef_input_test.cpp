// Compressed ECG files as input: valid, damaged and hostile. The files are built here from the
// container layout, not with the program's writer.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "platform/shared_memory.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Bytes;

std::array<std::uint8_t, 256> permutation() {
    std::array<std::uint8_t, 256> p;
    for (int i = 0; i < 256; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::uint32_t state = 61937;
    for (int i = 0; i < 256; ++i) {
        state = state * 214013u + 2531011u;
        const unsigned r = (state >> 16) & 0x7FFF;
        std::swap(p[static_cast<std::size_t>(i)], p[r & 255]);
    }
    return p;
}

void u32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void member(Bytes& b, const Bytes& data, std::uint32_t kind = 0) {
    u32(b, static_cast<std::uint32_t>(data.size()));
    u32(b, kind);
    b.insert(b.end(), data.begin(), data.end());
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct CefContent {
    std::string patient = "Smith\r\nJohn";
    std::vector<std::pair<std::string, Bytes>> extras;
    std::uint32_t version = 1;
    std::uint32_t event_kind = 0;  // 1: the event file is packed by the compressor
};

Bytes make_cef(const CefContent& content) {
    Bytes b(108, 0);
    tv::store_le32(&b[4], 108);
    tv::store_le32(&b[8], content.version);
    std::memcpy(&b[12], "Compressed ECG", 14);
    std::memcpy(&b[28], "Test recording", 14);
    tv::store_le32(&b[96], 11);
    tv::store_le32(&b[100], 3);
    tv::store_le32(&b[104], 7680 * 60);
    const auto p = permutation();
    Bytes pt = text(content.patient);
    for (auto& c : pt) c = p[c];
    u32(b, static_cast<std::uint32_t>(pt.size()));
    b.insert(b.end(), pt.begin(), pt.end());
    member(b, cardgen::empty_wav());
    member(b, text("3\r\n"), content.event_kind);
    for (int c = 0; c < 3; ++c) {
        Bytes data;
        for (int i = 0; i < 1000; ++i) {
            // Stored reduced by 4 bits: the reader shifts them back.
            const std::uint16_t reduced = static_cast<std::uint16_t>((0x0123 + i + c) & 0x0FFF);
            tv::append_le16(data, reduced);
        }
        member(b, data);
        u32(b, 410);
        u32(b, 1);
        u32(b, 4);
        u32(b, 0);
    }
    for (auto& [name, data] : content.extras) {
        u32(b, static_cast<std::uint32_t>(name.size() + 1));
        b.insert(b.end(), name.begin(), name.end());
        b.push_back(0);
        member(b, data);
    }
    std::uint32_t x = 0;
    for (std::size_t i = 4; i < b.size(); i += 4) {
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 4 && i + k < b.size(); ++k) w |= static_cast<std::uint32_t>(b[i + k]) << (8 * k);
        x ^= w;
    }
    tv::store_le32(&b[0], x);
    return b;
}

class CefInputTest : public VondTest {
protected:
    void SetUp() override {
        VondTest::SetUp();
        ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", SZIP_PROGRAM));
    }
    fs::path write_cef(const CefContent& content) {
        const fs::path p = t / "X.CEF";
        const Bytes b = make_cef(content);
        cardgen::write_bytes(p, b.data(), b.size());
        return p;
    }
    bool temp_clean() {
        for (auto& e : fs::directory_iterator(tmp))
            if (e.is_directory()) return false;
        return true;
    }
    CefContent standard() {
        CefContent s;
        s.extras = {{"PATSUMM.DAT", text("DOE\r\n42\r\n")}, {"CNAV.DAT", Bytes(1024, 0)}};
        return s;
    }
};

TEST(CefPermutation, KnownValues) {
    const auto p = permutation();
    const std::uint8_t first[8] = {58, 44, 20, 98, 0, 161, 115, 29};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p[static_cast<std::size_t>(i)], first[i]);
    EXPECT_EQ(p['A'], 0x8B);
    EXPECT_EQ(p['B'], 0xD0);
}

TEST_F(CefInputTest, PatientFilesFromACompressedFile) {
    const fs::path cef = write_cef(standard());
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + cef.string(), "/readpat=path"});
    ASSERT_EQ(r.code, 111) << r.err;
    EXPECT_EQ(slurp(out / "PATSUMM.DAT"), "DOE\r\n42\r\n");
    EXPECT_EQ(cardgen::read_bytes(out / "PATIENT.WAV"), cardgen::empty_wav());
    EXPECT_EQ(slurp(out / "PATEVENT.DAT"), "3\r\n");
    EXPECT_TRUE(temp_clean());
}

TEST_F(CefInputTest, ChannelsIntoTheMappingsShiftedBack) {
    const fs::path cef = write_cef(standard());
    const auto held = hold_card_mappings();
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + cef.string(), "/readecg=hide", "/opformat=mmf"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto raw = tv::platform::SharedMemory::open_existing("RAWECG1.MMF", tv::kRawEcgBytes, false);
    ASSERT_TRUE(raw);
    auto* w = static_cast<const std::uint16_t*>(raw->data());
    EXPECT_EQ(w[0], 0x1230);
    EXPECT_EQ(w[1], 0x1240);
    auto ctrl = tv::platform::SharedMemory::open_existing("ECGCTRL.MMF", 48, false);
    EXPECT_EQ(static_cast<const tv::EcgControlBlock*>(ctrl->data())[2].samples_written, 1000);
    EXPECT_TRUE(temp_clean());
}

TEST_F(CefInputTest, EmptyPatientBlockIsAccepted) {
    CefContent s = standard();
    s.patient.clear();
    const fs::path cef = write_cef(s);
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + cef.string(), "/readpat=path"});
    EXPECT_EQ(r.code, 111) << r.err;
    EXPECT_EQ(slurp(out / "PATSUMM.DAT"), "DOE\r\n42\r\n");
}

TEST_F(CefInputTest, DamagedAndHostileFilesAreRefused) {
    // One byte changed after the checksum word.
    Bytes b = make_cef(standard());
    b[200] ^= 1;
    const fs::path bad = t / "BAD.CEF";
    cardgen::write_bytes(bad, b.data(), b.size());
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + bad.string(), "/readpat=path"});
    EXPECT_EQ(r.code, 121);
    EXPECT_NE(r.err.find("message 163"), std::string::npos) << r.err;
    EXPECT_TRUE(temp_clean());

    // An extra member that climbs out of the folder.
    CefContent s = standard();
    s.extras.push_back({"../evil", text("gotcha")});
    const fs::path cef = write_cef(s);
    r = run({"/dir=" + out.string(), "/ipdir=" + cef.string(), "/readecg=hide", "/opformat=mmf"});
    EXPECT_EQ(r.code, 121) << r.err;
    EXPECT_FALSE(fs::exists(tmp / "evil"));
    EXPECT_FALSE(fs::exists(t / "evil"));
    EXPECT_TRUE(temp_clean());

    // A compressor that fails is asked about under the program's caption; Cancel ends the read.
    const fs::path failing = t / "failing-szip";
    const std::string script = "#!/bin/sh\nexit 3\n";
    cardgen::write_bytes(failing, script.data(), script.size());
    fs::permissions(failing, fs::perms::owner_all);
    ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", failing.string()));
    s = standard();
    s.event_kind = 1;
    const fs::path packed = write_cef(s);
    r = run({"/dir=" + out.string(), "/ipdir=" + packed.string(), "/readpat=path"});
    EXPECT_EQ(r.code, 121) << r.err;
    EXPECT_NE(r.err.find("Ostrabel CF Interface Program: The SZIP program has returned error number 3"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(temp_clean());
    ASSERT_TRUE(tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", SZIP_PROGRAM));

    // A link named as the input, even to a good file, is not followed, nor is a FIFO opened.
    const fs::path link = t / "LINK.CEF", fifo = t / "FIFO.CEF";
    fs::create_symlink(write_cef(standard()), link);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::remove_all(out);
    fs::create_directories(out);
    for (const fs::path& p : {link, fifo}) {
        r = run({"/dir=" + out.string(), "/ipdir=" + p.string(), "/readpat=path"});
        EXPECT_EQ(r.code, 112) << p << r.err;
        EXPECT_TRUE(fs::is_empty(out)) << p;
    }

    // A newer container is not taken as input: the folder is read as a card copy instead.
    s = standard();
    s.version = 2;
    const fs::path newer = write_cef(s);
    r = run({"/dir=" + out.string(), "/ipdir=" + newer.string(), "/readpat=path"});
    EXPECT_NE(r.code, 111);
    EXPECT_NE(r.code, 0);
}

}  // namespace
