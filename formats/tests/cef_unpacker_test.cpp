#include <sys/stat.h>

#include <gtest/gtest.h>

#include "formats/transfer_file.h"

#include "formats/tests/cef_test_support.h"

namespace tv::cef_test {
namespace {

const std::string kPatient = format_cef_patient_text({"C:/T/PATIENT.TXT", "x", "Doe Jane"});
const Bytes kWav{'R', 'I', 'F', 'F', 1, 2, 3};
const Bytes kEvents = to_bytes("10\n20\n");
const Bytes kCnav{9, 8, 7, 6, 5};

// One stored channel with trailer (410, 1, 0, 0) and the extra member CNAV.DAT.
CefBuilder golden_builder() {
    CefBuilder c;
    c.block(scrambled(kPatient)).member(kWav).member(kEvents);
    c.member(words_to_bytes({0, 16, 96, 4080})).trailer(410, 1, 0);
    return c;
}

class CefReader : public CefTest {
protected:
    std::string cef(const Bytes& b, const std::string& name = "IN.CEF") {
        const std::string p = path(name);
        EXPECT_TRUE(write_bytes(p, b));
        return p;
    }
    bool outside_untouched() const { return !file_exists(root_ + "/evil") && !file_exists(root_ + "/tmp/evil"); }
    int out_entries() const {
        int n = 0;
        for (FileFinder f(out_ + "/*", kFindAny); !f.at_end(); f.next()) ++n;
        return n;
    }
};

TEST_F(CefReader, GoldenStoredFileUnpacksExactly) {
    use_real_szip();
    const Bytes file = golden_builder().extra("CNAV.DAT", kCnav).finish();
    CefUnpacker r(cef(file), out_);
    ASSERT_EQ(r.get_error(), 0);
    EXPECT_FALSE(r.is_newer_version());
    EXPECT_EQ(r.get_description_text(), "Test recording");
    ASSERT_TRUE(r.unpack()) << r.get_error() << " " << r.get_error_file();
    EXPECT_EQ(read_bytes(out_ + "/PATIENT.TXT"), to_bytes(kPatient));
    EXPECT_EQ(read_bytes(out_ + "/PATIENT.WAV"), kWav);
    EXPECT_EQ(read_bytes(out_ + "/PATEVENT.DAT"), kEvents);
    EXPECT_EQ(read_bytes(out_ + "/RAWECG1.DAT"), words_to_bytes({0, 16, 96, 4080}));
    EXPECT_EQ(read_bytes(out_ + "/CNAV.DAT"), kCnav);
    EXPECT_EQ(read_bytes(out_ + "/CEFDESC.TXT"), to_bytes("Test recording"));
    EXPECT_EQ(read_bytes(out_ + "/VERSION.TXT"), to_bytes("V8.006\n"));
    EXPECT_EQ(read_bytes(out_ + "/SUMMARY.TXT"), to_bytes("CEF Report\n"));
    Bytes rec;
    for (std::uint32_t v : {11u, 4769280u, 1u, 410u, 1u, 0u}) append_le32(rec, v);
    EXPECT_EQ(read_bytes(out_ + "/RECORDING.DAT"), rec);
    EXPECT_EQ(out_entries(), 9);
}

// Report files land in archive folders that the site's group shares: they follow the umask.
TEST_F(CefReader, UnpackedAndPackedFilesFollowTheUmask) {
    use_real_szip();
    const std::string cef_path = cef(golden_builder().extra("CNAV.DAT", kCnav).finish());
    const struct { mode_t umask, file; } cases[] = {{002, 0664}, {022, 0644}};
    auto mode_of = [](const std::string& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        const std::string to = out_ + "/u" + std::to_string(c.umask);
        ASSERT_TRUE(create_folder_path(to + "/back"));
        const mode_t old = ::umask(c.umask);
        CefUnpacker r(cef_path, to);
        const bool unpacked = r.unpack();
        const int packed = pack_transfer_file({to + "/*.*"}, to + "/R.TVZ");
        const int restored = unpack_transfer_file(to + "/R.TVZ", to + "/back");
        ::umask(old);
        ASSERT_TRUE(unpacked) << r.get_error();
        ASSERT_EQ(packed, 0);
        ASSERT_EQ(restored, kUnpackOk);
        for (const char* name :
             {"PATIENT.TXT", "RAWECG1.DAT", "CNAV.DAT", "CEFDESC.TXT", "R.TVZ", "back/PATIENT.TXT", "back/CNAV.DAT"})
            EXPECT_EQ(mode_of(to + "/" + name), c.file) << name;
    }
}

TEST_F(CefReader, StoredChannelIsRestoredByItsBitReductionAndOddSizesChecksum) {
    use_real_szip();
    CefBuilder c(11, 2);
    c.block(scrambled(kPatient)).member({}).member({});
    c.member(words_to_bytes({0, 1, 6, 255, 0x0106})).trailer(410, 1, 4);
    c.member(words_to_bytes({0x0123})).trailer(410, 1, 4, 7);  // an extra block is skipped
    c.extra("ODD.BIN", {1, 2, 3});                             // file length not a multiple of 4
    CefUnpacker r(cef(c.finish()), out_);
    ASSERT_EQ(r.get_error(), 0);
    ASSERT_TRUE(r.unpack()) << r.get_error();
    EXPECT_EQ(read_bytes(out_ + "/RAWECG1.DAT"), words_to_bytes({0, 16, 96, 4080, 0x1060}));
    EXPECT_EQ(read_bytes(out_ + "/RAWECG2.DAT"), words_to_bytes({0x1230}));
    EXPECT_EQ(read_bytes(out_ + "/ODD.BIN"), (Bytes{1, 2, 3}));
    // Empty members: PATEVENT.DAT is created empty, PATIENT.WAV is not created.
    EXPECT_TRUE(file_exists(out_ + "/PATEVENT.DAT"));
    EXPECT_EQ(get_file_size_64(out_ + "/PATEVENT.DAT"), 0);
    EXPECT_FALSE(file_exists(out_ + "/PATIENT.WAV"));
    EXPECT_EQ(r.trailers()[1].extra_length, 7u);
}

TEST_F(CefReader, HeaderLevelFailures) {
    use_real_szip();
    const Bytes good = golden_builder().extra("CNAV.DAT", kCnav).finish();
    struct Case {
        const char* what;
        Bytes bytes;
        int error;
    };
    std::vector<Case> cases;
    Bytes flipped = good;
    flipped[100] ^= 0x01;  // inside the header, past the checksum word
    cases.push_back({"flip", flipped, kCefChecksum});
    Bytes flipped_late = good;
    flipped_late[good.size() - 2] ^= 0x80;
    cases.push_back({"flip late", flipped_late, kCefChecksum});
    Bytes sum = good;
    sum[0] ^= 0x01;
    cases.push_back({"checksum word", sum, kCefChecksum});
    cases.push_back({"truncated to 100", Bytes(good.begin(), good.begin() + 100), kCefShortHeader});
    cases.push_back({"empty", {}, kCefShortHeader});
    Bytes sig = good;
    sig[13] = 'O';
    cases.push_back({"signature", sig, kCefBadSignature});
    Bytes sig_tail = good;
    sig_tail[27] = 'x';
    cases.push_back({"signature NUL bytes", sig_tail, kCefBadSignature});
    for (const auto& c : cases) {
        CefUnpacker r(cef(c.bytes), out_);
        EXPECT_EQ(r.get_error(), c.error) << c.what;
        EXPECT_FALSE(r.unpack()) << c.what;
        EXPECT_FALSE(r.unpack_by_name("CNAV.DAT")) << c.what;
        EXPECT_EQ(out_entries(), 0) << c.what;
    }
    CefUnpacker missing(path("NOPE.CEF"), out_);
    EXPECT_EQ(missing.get_error(), kCefCannotOpen);
    CefUnpacker no_target(cef(good), root_ + "/no/such/folder");
    EXPECT_EQ(no_target.get_error(), kCefNoTargetFolder);
    EXPECT_EQ(no_target.get_error_file(), root_ + "/no/such/folder");
}

TEST_F(CefReader, AByteFlippedAtOffset300IsAChecksumError) {
    use_real_szip();
    CefBuilder c = golden_builder();
    c.extra("CNAV.DAT", Bytes(400, 0x11));
    Bytes b = c.finish();
    ASSERT_GT(b.size(), 300u);
    b[300] ^= 0xFF;
    EXPECT_EQ(uncompress_cef_to_folder(cef(b), out_), kCefChecksum);
}

TEST_F(CefReader, NewerVersionIsFlaggedAndReadOn) {
    use_real_szip();
    CefBuilder c(11, 1, 0, "v2", 2);
    c.block(scrambled(kPatient)).member({}).member({}).member(words_to_bytes({5})).trailer(410, 1, 0);
    CefUnpacker r(cef(c.finish()), out_);
    ASSERT_EQ(r.get_error(), 0);
    EXPECT_TRUE(r.is_newer_version());
    EXPECT_TRUE(r.unpack());
}

// Every length, count, shift and name is checked before anything is written.
TEST_F(CefReader, HostileDirectoriesAreRefusedBeforeWriting) {
    use_real_szip();
    struct Case {
        const char* what;
        Bytes bytes;
        int error;
    };
    std::vector<Case> cases;
    auto with_extra = [](const std::string& name) { return golden_builder().extra(name, kCnav).finish(); };
    cases.push_back({"traversal", with_extra("../evil"), kCefBadName});
    cases.push_back({"slash", with_extra("sub/evil"), kCefBadName});
    cases.push_back({"backslash", with_extra("..\\evil"), kCefBadName});
    cases.push_back({"drive", with_extra("C:evil"), kCefBadName});
    cases.push_back({"dot dot", with_extra(".."), kCefBadName});
    cases.push_back({"dot", with_extra("."), kCefBadName});
    cases.push_back({"reserved", with_extra("patient.txt"), kCefBadName});
    cases.push_back({"channel name", with_extra("RAWECG1.DAT"), kCefBadName});
    cases.push_back({"name 262", with_extra(std::string(261, 'n')), kCefBadName});
    {
        CefBuilder c = golden_builder();
        append_le32(c.b, 1);  // L < 2: only a NUL
        c.b.push_back(0);
        c.member(kCnav);
        cases.push_back({"empty name", c.finish(), kCefBadName});
    }
    {
        CefBuilder c = golden_builder();
        append_le32(c.b, 5);  // no NUL inside L
        for (char ch : std::string("ABCDE")) c.b.push_back(static_cast<std::uint8_t>(ch));
        c.member(kCnav);
        cases.push_back({"no NUL", c.finish(), kCefBadName});
    }
    {
        CefBuilder c = golden_builder();
        append_le32(c.b, 4);  // NUL inside the name
        for (char ch : std::string("A\0B", 3)) c.b.push_back(static_cast<std::uint8_t>(ch));
        c.b.push_back(0);
        c.member(kCnav);
        cases.push_back({"inner NUL", c.finish(), kCefBadName});
    }
    {
        CefBuilder c = golden_builder();
        append_le32(c.b, 200);  // name runs past the end
        c.b.insert(c.b.end(), 10, 'A');
        cases.push_back({"name cut", c.finish(), kCefNameTruncated});
    }
    {
        CefBuilder c = golden_builder();
        c.b.insert(c.b.end(), {1, 0});  // a partial length word
        cases.push_back({"partial word", c.finish(), kCefTruncated});
    }
    {
        CefBuilder c = golden_builder();
        c.extra("CNAV.DAT", kCnav);
        c.b[c.b.size() - kCnav.size() - 8] = 0xFF;  // member length beyond the file
        cases.push_back({"extra length", c.finish(), kCefTruncated});
    }
    cases.push_back({"extra kind", golden_builder().extra("CNAV.DAT", kCnav, 2).finish(), kCefBadMemberKind});
    {
        CefBuilder c;
        append_le32(c.b, 0x7FFFFFF0);  // patient length beyond the file
        cases.push_back({"patient length", c.finish(), kCefTruncated});
    }
    {
        CefBuilder c;
        c.block(scrambled(kPatient)).member(kWav, 7);
        cases.push_back({"wav kind", c.finish(), kCefBadMemberKind});
    }
    {
        CefBuilder c;
        c.block(scrambled(kPatient)).member(kWav);
        c.b[c.b.size() - kWav.size() - 8] = 0xF0;
        cases.push_back({"wav length", c.finish(), kCefTruncated});
    }
    for (std::int32_t count : {0, -1, 4, 9}) {
        CefBuilder c(count == 9 ? 13 : 11, count);
        c.block(scrambled(kPatient)).member({}).member({});
        for (int i = 0; i < 4; ++i) c.member(words_to_bytes({1})).trailer(410, 1, 0);
        cases.push_back({"channel count", c.finish(), kCefTruncated});
    }
    for (std::int32_t bits : {-1, 5, 16}) {
        CefBuilder c;
        c.block(scrambled(kPatient)).member({}).member({}).member(words_to_bytes({1})).trailer(410, 1, bits);
        cases.push_back({"bit reduction", c.finish(), kCefTruncated});
    }
    {
        CefBuilder c;
        c.block(scrambled(kPatient)).member({}).member({}).member(words_to_bytes({1}));
        append_le32(c.b, 410);
        append_le32(c.b, 1);
        append_le32(c.b, 0);
        append_le32(c.b, 1000);  // extra block beyond the file
        cases.push_back({"extra block", c.finish(), kCefTruncated});
    }
    {
        CefBuilder c;
        c.block(scrambled(kPatient)).member({}).member({}).member(words_to_bytes({1}));
        append_le32(c.b, 410);
        cases.push_back({"trailer cut", c.finish(), kCefTruncated});
    }
    int i = 0;
    for (const auto& c : cases) {
        CefUnpacker r(cef(c.bytes, "H" + std::to_string(i++) + ".CEF"), out_);
        EXPECT_EQ(r.get_error(), c.error) << c.what;
        EXPECT_FALSE(r.unpack()) << c.what;
        EXPECT_FALSE(r.unpack_by_name("PATIENT.TXT")) << c.what;
        EXPECT_EQ(out_entries(), 0) << c.what;
        EXPECT_TRUE(outside_untouched()) << c.what;
    }
    // 261 bytes with the NUL is the longest name the format accepts, but this file system stops
    // at 255: such a name is refused with the others, before anything is written.
    for (std::size_t n : {256u, 260u}) {
        CefUnpacker longest(cef(with_extra(std::string(n, 'n'))), out_);
        EXPECT_EQ(longest.get_error(), kCefBadName) << n;
        EXPECT_FALSE(longest.unpack());
        EXPECT_EQ(out_entries(), 0) << n;
    }
    CefUnpacker long_name(cef(with_extra(std::string(250, 'n')), "L.CEF"), out_);
    EXPECT_TRUE(long_name.unpack());
    EXPECT_TRUE(file_exists(out_ + "/" + std::string(250, 'n')));
}

TEST_F(CefReader, TwelveLeadUsesItsOwnNamesAndHeader) {
    use_real_szip();
    CefBuilder c(13, 8);
    c.block(scrambled(kPatient)).member({}).member({});
    Bytes ch{0x01, 0x04, 0x00, 0x77};
    const Bytes samples = words_to_bytes({0x0012});
    ch.insert(ch.end(), samples.begin(), samples.end());
    for (int i = 0; i < 8; ++i) c.member(ch).trailer(410, 1, 2);
    CefUnpacker r(cef(c.finish()), out_);
    ASSERT_EQ(r.get_error(), 0);
    ASSERT_TRUE(r.unpack()) << r.get_error();
    for (int i = 1; i <= 8; ++i) {
        const Bytes got = read_bytes(out_ + "/os12ecg" + std::to_string(i) + ".dat");
        ASSERT_EQ(got.size(), 6u);
        EXPECT_EQ(got[3], 0x77);
        EXPECT_EQ(load_le16(got, 4), 0x0048);
    }
    EXPECT_EQ(get_file_size_64(out_ + "/RECORDING.DAT"), 12 + 12 * 8);
}

TEST_F(CefReader, EmptyPatientBlockCannotBeUnpacked) {
    use_real_szip();
    CefBuilder c;
    c.block({}).member({}).member({}).member(words_to_bytes({1})).trailer(410, 1, 0);
    CefUnpacker r(cef(c.finish()), out_);
    ASSERT_EQ(r.get_error(), 0);
    EXPECT_FALSE(r.unpack());
    EXPECT_EQ(r.get_error(), kCefPatientText);
}

TEST_F(CefReader, UnpackByName) {
    use_real_szip();
    const Bytes file = golden_builder().extra("CNAV.DAT", kCnav).extra("OTHER.DAT", {4}).finish();
    CefUnpacker r(cef(file), out_);
    ASSERT_EQ(r.get_error(), 0);
    EXPECT_TRUE(r.unpack_by_name("other.dat"));
    EXPECT_EQ(read_bytes(out_ + "/OTHER.DAT"), (Bytes{4}));
    EXPECT_FALSE(file_exists(out_ + "/CNAV.DAT"));
    EXPECT_TRUE(r.unpack_by_name("CNAVOP.DAT"));  // not there: success, no file
    EXPECT_FALSE(file_exists(out_ + "/CNAVOP.DAT"));
    EXPECT_TRUE(r.unpack_by_name("rawecg1.dat"));
    EXPECT_FALSE(r.unpack_by_name("RAWECG2.DAT"));
    EXPECT_EQ(r.get_error(), kCefChannelMissing);
    EXPECT_TRUE(r.unpack_by_name("PATIENT.WAV"));  // clears the earlier error

    CefBuilder quiet;
    quiet.block(scrambled(kPatient)).member({}).member({}).member(words_to_bytes({1})).trailer(410, 1, 0);
    CefUnpacker s(cef(quiet.finish(), "Q.CEF"), out_);
    EXPECT_FALSE(s.unpack_by_name("PATIENT.WAV"));
    EXPECT_EQ(s.get_error(), kCefChannelMissing);
}

TEST_F(CefReader, CompressorMissingOrFailing) {
    const Bytes stored = golden_builder().finish();
    {
        // No compressor anywhere: even an all-stored file is refused.
        CefUnpacker r(cef(stored), out_);
        EXPECT_EQ(r.get_error(), kCefNoCompressor);
    }
    CefBuilder packed;
    packed.block(scrambled(kPatient)).member({}).member(kEvents, 1).member(words_to_bytes({1})).trailer(410, 1, 0);
    const Bytes file = packed.finish();

    // Exit 3: Retry runs it again, Cancel leaves error 9; the scratch is gone afterwards.
    fake_szip("echo run >> \"" + root_ + "/runs\"; exit 3");
    ui_.answers = {MsgResult::Retry, MsgResult::Cancel};
    {
        CefUnpacker r(cef(file, "P.CEF"), out_, ask_ui);
        ASSERT_EQ(r.get_error(), 0);
        EXPECT_FALSE(r.unpack());
        EXPECT_EQ(r.get_error(), kCefCompressorCancelled);
    }
    ASSERT_EQ(ui_.shown.size(), 2u);
    EXPECT_EQ(ui_.shown[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(ui_.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(ui_.shown[0].text.rfind("The SZIP program has returned error number 3.\nThe command line was:\n", 0), 0u)
        << ui_.shown[0].text;
    EXPECT_NE(ui_.shown[0].text.find(" -d \""), std::string::npos);
    EXPECT_EQ(read_bytes(root_ + "/runs").size(), 8u);  // two runs
    EXPECT_EQ(temp_entries(), 0);
    EXPECT_FALSE(file_exists(out_ + "/PATEVENT.DAT"));

    // Nobody to ask: the compressor is not run again and nothing is shown.
    ui_.shown.clear();
    ASSERT_TRUE(force_delete_file(root_ + "/runs"));
    {
        CefUnpacker r(cef(file, "P.CEF"), out_);
        EXPECT_FALSE(r.unpack());
        EXPECT_EQ(r.get_error(), kCefCompressorCancelled);
    }
    EXPECT_TRUE(ui_.shown.empty());
    EXPECT_EQ(read_bytes(root_ + "/runs").size(), 4u);  // one run

    // A program that cannot be started.
    fake_szip("");
    ASSERT_TRUE(platform::atomic_write_file(root_ + "/fake_szip", "#!/no/such/interpreter\n"));
    ::chmod((root_ + "/fake_szip").c_str(), 0755);
    EXPECT_EQ(uncompress_cef_to_folder(cef(file, "P.CEF"), out_), kCefNoCompressor);
}

// Packed channels are unpacked side by side; results and failures still come in channel order.
TEST_F(CefReader, PackedChannels) {
    CefBuilder c(11, 3);
    c.block(scrambled(kPatient)).member({}).member({});
    for (std::uint16_t v : {1, 2, 3}) c.member(words_to_bytes({v, 0}), 1).trailer(410, 1, 4);
    const Bytes file = c.finish();
    fake_szip("cp \"$2\" \"$3\"");  // a compressor that stores
    ASSERT_EQ(uncompress_cef_to_folder(cef(file), out_), 0);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(read_bytes(out_ + "/RAWECG" + std::to_string(i) + ".DAT"),
                  words_to_bytes({static_cast<std::uint16_t>(i << 4), 0}));
    EXPECT_EQ(temp_entries(), 0);

    // Channel 2 fails: one question about it, Cancel stops with error 9, nothing is left running.
    fake_szip("case \"$2\" in *CEFTEMP1.BIN) sleep 0.2; exit 6;; esac; cp \"$2\" \"$3\"");
    ui_.answers = {MsgResult::Cancel};
    CefUnpacker r(cef(file, "B.CEF"), out_, ask_ui);
    ASSERT_EQ(r.get_error(), 0);
    EXPECT_FALSE(r.unpack());
    EXPECT_EQ(r.get_error(), kCefCompressorCancelled);
    EXPECT_EQ(r.get_error_file(), out_ + "/RAWECG2.DAT");
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_EQ(ui_.shown[0].text.rfind("The SZIP program has returned error number 6.", 0), 0u);
    EXPECT_EQ(read_bytes(out_ + "/RAWECG1.DAT"), words_to_bytes({16, 0}));
}

TEST_F(CefReader, TempFolderHelperCleansUpOnFailure) {
    use_real_szip();
    int error = -1;
    const std::string folder = uncompress_cef_to_temp_folder(cef(golden_builder().finish()), error);
    ASSERT_EQ(error, 0);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.rfind(tmp_ + "/", 0), 0u);
    EXPECT_TRUE(file_exists(folder + "RAWECG1.DAT"));
    delete_folder_tree(folder, true, true);

    Bytes bad = golden_builder().finish();
    bad[200] ^= 1;
    std::string file;
    EXPECT_TRUE(uncompress_cef_to_temp_folder(cef(bad), error, &file).empty());
    EXPECT_EQ(error, kCefChecksum);
    EXPECT_EQ(temp_entries(), 0);

    CefHeader h;
    EXPECT_TRUE(read_cef_header(cef(golden_builder().finish()), h));
    EXPECT_EQ(h.start_sample, 4769280);
    EXPECT_FALSE(read_cef_header(cef(Bytes(50, 0)), h));
}

}  // namespace
}  // namespace tv::cef_test
