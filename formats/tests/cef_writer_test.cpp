#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "common/safe_open.h"
#include "common/scramble.h"
#include "formats/tests/cef_test_support.h"

namespace tv::cef_test {
namespace {

class RecordingProgress : public CefProgress {
public:
    std::vector<std::string> texts;
    void set_text(const std::string& t) override { texts.push_back(t); }
};

class CefWriterTest : public CefTest {
protected:
    void SetUp() override {
        CefTest::SetUp();
        src_ = root_ + "/src";
        ASSERT_EQ(::mkdir(src_.c_str(), 0700), 0);
    }
    // A card recording: three channels of the known words, side files, events, sound and details.
    void make_card_folder() {
        std::vector<std::uint16_t> words;
        for (int i = 0; i < 20000; ++i)
            for (std::uint16_t w : {0, 3, 100, 4090, 0x1064}) words.push_back(w);
        for (int c = 1; c <= 3; ++c)
            ASSERT_TRUE(write_bytes(src_ + "/RAWECG" + std::to_string(c) + ".DAT", words_to_bytes(words)));
        ASSERT_TRUE(precompress_folder_ecg(src_, 4, false));
        ASSERT_TRUE(write_bytes(src_ + "/OTHER.DAT", Bytes(1000, 0x42)));
        ASSERT_TRUE(
            write_bytes(src_ + "/PATSUMM.DAT", to_bytes("Doe Jane\r\nP123\r\n01/02/2003 10:20:31\r\nREC9\r\n")));
        ASSERT_TRUE(write_bytes(src_ + "/cnav.dat", Bytes{1, 2, 3}));  // found without regard to case
        ASSERT_TRUE(write_bytes(src_ + "/PATEVENT.DAT", to_bytes("10\n20\n")));
        ASSERT_TRUE(write_bytes(src_ + "/PATIENT.WAV", Bytes{'R', 'I', 'F', 'F', 0, 0}));
        Bytes text = to_bytes(patient_text_);
        scramble_bytes(text.data(), text.size());
        ASSERT_TRUE(write_bytes(src_ + "/PATIENT.TXT", text));
    }
    CefHeader card_header() const {
        CefHeader h;
        h.kind = kCefKindCard;
        h.channel_count = 3;
        h.start_sample = 4769280;
        h.creation_time = cef_time_word(1700000000);
        return h;
    }
    std::vector<CefChannelTrailer> trailers(int n, int bits) const {
        return std::vector<CefChannelTrailer>(static_cast<std::size_t>(n), CefChannelTrailer{410, 1, bits, 0});
    }
    Result<void> write(const std::string& out, RecordingProgress* progress = nullptr) {
        return assemble_cef(progress, card_header(), trailers(3, 4), out, src_, cef_card_extra_list(), false, ask_ui);
    }
    static std::string message(const Result<void>& r) { return r ? std::string() : r.error().message; }

    std::string src_;
    const std::string patient_text_ =
        format_cef_patient_text({"", "", "Doe Jane", "", "", "", "", "ABCD1234566", "P123"});
};

// Walks a written file the way the format lays it out and returns the members' kinds.
std::vector<std::uint32_t> member_kinds(const Bytes& b, int channels, std::vector<Bytes>* trailers) {
    std::vector<std::uint32_t> kinds;
    std::size_t pos = 108;
    pos += 4 + load_le32(b, pos);
    auto member = [&] {
        const std::uint32_t len = load_le32(b, pos);
        kinds.push_back(len ? load_le32(b, pos + 4) : 99);
        pos += 8 + len;
    };
    member();
    member();
    for (int i = 0; i < channels; ++i) {
        member();
        trailers->push_back(
            Bytes(b.begin() + static_cast<std::ptrdiff_t>(pos), b.begin() + static_cast<std::ptrdiff_t>(pos + 16)));
        pos += 16;
    }
    while (pos < b.size()) {
        pos += 4 + load_le32(b, pos);
        member();
    }
    EXPECT_EQ(pos, b.size());
    return kinds;
}

TEST_F(CefWriterTest, CardRecordingRoundTrip) {
    use_real_szip();
    make_card_folder();
    const Bytes reduced = read_bytes(src_ + "/RAWECG1.DAT");
    const std::string out = root_ + "/ABCD1234566.CEF";
    RecordingProgress progress;
    const auto written = write(out, &progress);
    ASSERT_TRUE(written) << message(written);
    EXPECT_TRUE(ui_.shown.empty());

    const Bytes b = read_bytes(out);
    ASSERT_GT(b.size(), 108u);
    EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 28), std::string("Compressed ECG\0\0", 16));
    EXPECT_EQ(load_le32(b, 4), 108u);
    EXPECT_EQ(load_le32(b, 8), 1u);
    EXPECT_EQ(load_le32(b, 92), 1700000000u);
    EXPECT_EQ(load_le32(b, 96), 11u);
    EXPECT_EQ(load_le32(b, 100), 3u);
    EXPECT_EQ(load_le32(b, 104), 4769280u);
    EXPECT_EQ(load_le32(b, 0), xor_words(b, 4));
    EXPECT_EQ(load_le32(b, 108), patient_text_.size());
    std::vector<Bytes> trl;
    const auto kinds = member_kinds(b, 3, &trl);
    EXPECT_EQ(kinds, (std::vector<std::uint32_t>{1, 1, 1, 1, 1, 1, 1, 1}));  // EVENT.DAT is optional and absent
    Bytes expected_trailer;
    for (std::uint32_t v : {410u, 1u, 4u, 0u}) append_le32(expected_trailer, v);
    for (const auto& t : trl) EXPECT_EQ(t, expected_trailer);
    EXPECT_EQ(read_bytes(src_ + "/RAWECG1.DAT"), reduced);  // sources untouched by writing

    // Progress texts in order, one pair per member.
    ASSERT_GE(progress.texts.size(), 4u);
    EXPECT_EQ(progress.texts[0], "Writing compressed ECG header");
    EXPECT_EQ(progress.texts[1], "Writing patient details");
    EXPECT_NE(std::find(progress.texts.begin(), progress.texts.end(), "Compressing ecg for channel 3"),
              progress.texts.end());
    EXPECT_NE(std::find(progress.texts.begin(), progress.texts.end(), "Compressing file \"CNAV.DAT\""),
              progress.texts.end());
    EXPECT_EQ(progress.texts.back(), "Validating compressed report - Please wait...");

    // Unpacked as a reader would: restored words and identical side files.
    const std::string folder = create_temp_folder();
    ASSERT_EQ(uncompress_cef_to_folder(out, folder), 0);
    std::vector<std::uint16_t> restored;
    for (int i = 0; i < 20000; ++i)
        for (std::uint16_t w : {0, 16, 96, 4080, 0x1060}) restored.push_back(w);
    for (int c = 1; c <= 3; ++c)
        EXPECT_EQ(read_bytes(folder + "RAWECG" + std::to_string(c) + ".DAT"), words_to_bytes(restored));
    for (const char* name : {"OTHER.DAT", "PATSUMM.DAT", "PATEVENT.DAT", "PATIENT.WAV"})
        EXPECT_EQ(read_bytes(folder + name), read_bytes(src_ + "/" + name)) << name;
    EXPECT_EQ(read_bytes(folder + "CNAV.DAT"), (Bytes{1, 2, 3}));
    EXPECT_EQ(read_bytes(folder + "PATIENT.TXT"), to_bytes(patient_text_));
    EXPECT_EQ(read_bytes(folder + "CEFDESC.TXT"), Bytes{});
    Bytes rec;
    for (std::uint32_t v : {11u, 4769280u, 3u, 410u, 1u, 4u, 410u, 1u, 4u, 410u, 1u, 4u}) append_le32(rec, v);
    EXPECT_EQ(read_bytes(folder + "RECORDING.DAT"), rec);
    delete_folder_tree(folder, true, true);

    // Same sources, same header: the same bytes; no scratch left behind.
    const std::string again = root_ + "/AGAIN.CEF";
    ASSERT_TRUE(write(again));
    EXPECT_EQ(read_bytes(again), b);
    EXPECT_EQ(temp_entries(), 0);
}

// Two writers at once never share a scratch file or validation folder.
TEST_F(CefWriterTest, TwoWritersAtOnce) {
    use_real_szip();
    make_card_folder();
    bool ok1 = false, ok2 = false;
    std::thread t1([&] { ok1 = write(root_ + "/ONE.CEF").ok(); });
    std::thread t2([&] { ok2 = write(root_ + "/TWO.CEF").ok(); });
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
    EXPECT_TRUE(ui_.shown.empty());
    EXPECT_EQ(read_bytes(root_ + "/ONE.CEF"), read_bytes(root_ + "/TWO.CEF"));
    EXPECT_EQ(temp_entries(), 0);
}

TEST_F(CefWriterTest, MissingOptionalFilesLeaveEmptyMembers) {
    use_real_szip();
    ASSERT_TRUE(write_bytes(src_ + "/RAWECG1.DAT", words_to_bytes({5, 6, 7})));
    CefHeader h = card_header();
    h.kind = 3;  // a tape recording: no extra members
    h.channel_count = 1;
    set_cef_description(h, "Tape");
    const std::string out = root_ + "/T.CEF";
    // Written without complaint, but its own validation cannot unpack an empty patient block.
    const auto refused = assemble_cef(nullptr, h, trailers(1, 0), out, src_, {}, false);
    EXPECT_FALSE(refused);
    EXPECT_EQ(message(refused).rfind("The compressed report is not valid.", 0), 0u);
    EXPECT_TRUE(ui_.shown.empty());
    const Bytes b = read_bytes(out);
    EXPECT_EQ(load_le32(b, 108), 0u);  // no PATIENT.TXT
    std::vector<Bytes> trl;
    EXPECT_EQ(member_kinds(b, 1, &trl), (std::vector<std::uint32_t>{99, 99, 1}));
    // An empty patient block is written without complaint but cannot be unpacked.
    EXPECT_EQ(uncompress_cef_to_folder(out, out_), kCefPatientText);
    // With patient details the same folder gives a valid file with empty sound and event members.
    ASSERT_TRUE(write_bytes(src_ + "/PATIENT.TXT", scrambled(patient_text_)));
    ASSERT_TRUE(assemble_cef(nullptr, h, trailers(1, 0), out, src_, {}, false));
    const std::string folder = create_temp_folder();
    ASSERT_EQ(uncompress_cef_to_folder(out, folder), 0);
    EXPECT_EQ(get_file_size_64(folder + "PATEVENT.DAT"), 0);
    EXPECT_FALSE(file_exists(folder + "PATIENT.WAV"));
    EXPECT_EQ(read_bytes(folder + "CEFDESC.TXT"), to_bytes("Tape"));
    delete_folder_tree(folder, true, true);
    // A link planted under the file's name in a shared folder is replaced, never written through.
    const std::string victim = root_ + "/victim";
    ASSERT_TRUE(write_bytes(victim, to_bytes("someone else's")));
    ASSERT_TRUE(force_delete_file(out));
    ASSERT_EQ(::symlink(victim.c_str(), out.c_str()), 0);
    ASSERT_TRUE(assemble_cef(nullptr, h, trailers(1, 0), out, src_, {}, false));
    EXPECT_EQ(read_bytes(victim), to_bytes("someone else's"));
    EXPECT_TRUE(is_regular_file_no_link(out));
}

TEST_F(CefWriterTest, StaleValidationFolderDoesNotMatter) {
    use_real_szip();
    make_card_folder();
    ASSERT_EQ(::mkdir((tmp_ + "/VALIDATE.CEF").c_str(), 0700), 0);
    ASSERT_TRUE(write_bytes(tmp_ + "/VALIDATE.CEF/RAWECG1.DAT", Bytes{1}));
    ASSERT_TRUE(write_bytes(tmp_ + "/CEFTEMP.BIN", Bytes{1}));
    ASSERT_TRUE(write(root_ + "/S.CEF"));
    EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CefWriterTest, FailuresAreReported) {
    make_card_folder();
    struct Case {
        const char* what;
        std::string script;  // empty: no compressor at all
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no compressor", "", "The \"SZIP.EXE\" program cannot be found."},
        {"exit 3", "exit 3", "The SZIP program returned error code 3"},
        {"empty output", ": > \"$3\"; exit 0", "The SZIP program failed to write an output file."},
        {"no output", "exit 0", "The SZIP program failed to write an output file."},
    };
    for (const auto& c : cases) {
        ui_.shown.clear();
        if (!c.script.empty()) fake_szip(c.script);
        const auto r = write(root_ + "/F.CEF");
        EXPECT_FALSE(r) << c.what;
        EXPECT_EQ(message(r), c.message) << c.what;
        EXPECT_TRUE(ui_.shown.empty()) << c.what;
        EXPECT_EQ(temp_entries(), 0) << c.what;
    }
    // A compressor that cannot be started.
    ui_.shown.clear();
    fake_szip("");
    ASSERT_TRUE(platform::atomic_write_file(root_ + "/fake_szip", "#!/no/such/interpreter\n"));
    ::chmod((root_ + "/fake_szip").c_str(), 0755);
    const auto not_started = write(root_ + "/F.CEF");
    EXPECT_FALSE(not_started);
    EXPECT_EQ(message(not_started), "Could not run the SZIP program.");

    // A compressor whose output does not unpack fails the validation round trip.
    ui_.shown.clear();
    fake_szip("cp \"$2\" \"$3\"");  // packs by copying, and "unpacks" the same way: still valid
    EXPECT_TRUE(write(root_ + "/C.CEF"));
    EXPECT_TRUE(ui_.shown.empty());
    fake_szip("case \"$1\" in -d) exit 7;; *) cp \"$2\" \"$3\";; esac");
    const auto invalid = write(root_ + "/V.CEF");
    EXPECT_FALSE(invalid);
    ASSERT_FALSE(ui_.shown.empty());
    EXPECT_EQ(ui_.shown.front().buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(message(invalid).rfind("The compressed report is not valid.", 0), 0u);
}

TEST_F(CefWriterTest, RequiredExtraMemberMissing) {
    use_real_szip();
    make_card_folder();
    ASSERT_TRUE(force_delete_file(src_ + "/PATSUMM.DAT"));
    const auto r = write(root_ + "/M.CEF");
    EXPECT_FALSE(r);
    EXPECT_EQ(message(r), "Could not find file \"PATSUMM.DAT\"");
}

TEST_F(CefWriterTest, BadArgumentsAreRefused) {
    use_real_szip();
    make_card_folder();
    CefHeader h = card_header();
    h.channel_count = 4;
    EXPECT_FALSE(assemble_cef(nullptr, h, trailers(4, 0), root_ + "/B.CEF", src_, {}, false));
    EXPECT_FALSE(assemble_cef(nullptr, card_header(), trailers(2, 0), root_ + "/B.CEF", src_, {}, false));
    EXPECT_FALSE(assemble_cef(nullptr, card_header(), trailers(3, 5), root_ + "/B.CEF", src_, {}, false));
    const auto r = write(root_ + "/no/such/folder/B.CEF");
    EXPECT_FALSE(r);
    EXPECT_EQ(message(r), "Failed to write the compressed ECG file.");
}

TEST_F(CefWriterTest, TwelveLeadRecording) {
    use_real_szip();
    for (int c = 1; c <= 8; ++c) {
        Bytes ch{0x02, 0x05, 0x00, 0xAB, 0xCD};
        const Bytes s = words_to_bytes({0x0123, 0x0FFA});
        ch.insert(ch.end(), s.begin(), s.end());
        ASSERT_TRUE(write_bytes(src_ + "/os12ecg" + std::to_string(c) + ".dat", ch));
    }
    ASSERT_TRUE(precompress_folder_ecg(src_, 2, true));
    ASSERT_TRUE(write_bytes(src_ + "/OTHER.DAT", Bytes{1}));
    ASSERT_TRUE(write_bytes(src_ + "/PATSUMM.DAT", Bytes{2}));
    ASSERT_TRUE(write_bytes(src_ + "/os12pac.dat", Bytes{3}));
    ASSERT_TRUE(write_bytes(src_ + "/PATIENT.TXT", scrambled(patient_text_)));
    CefHeader h = card_header();
    h.kind = kCefKindTwelveLead;
    h.channel_count = 8;
    const std::string out = root_ + "/12.CEF";
    ASSERT_TRUE(assemble_cef(nullptr, h, trailers(8, 2), out, src_, cef_twelve_lead_extra_list(), true));
    ASSERT_EQ(uncompress_cef_to_folder(out, out_), 0);
    const Bytes got = read_bytes(out_ + "/os12ecg8.dat");
    // 0x0123 -> (0x123 + 2) >> 2 = 0x49 -> 0x124; 0xFFA is kept -> 0x3FE -> 0xFF8.
    const Bytes expected{0x02, 0x05, 0x00, 0xAB, 0xCD, 0x24, 0x01, 0xF8, 0x0F};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(read_bytes(out_ + "/os12pac.dat"), Bytes{3});
}

TEST_F(CefWriterTest, CompressionRequestProfile) {
    using Read = CompressCfRequest::DetailsRead;
    const std::string ini = root_ + "/req.ini";
    CompressCfRequest req;
    req.folder = src_;
    EXPECT_EQ(req.read_patient_details(ini), Read::NoProfile);
    req.folder = root_ + "/missing";
    EXPECT_EQ(req.read_patient_details(ini), Read::NoFolder);
    req.folder = src_;
    ASSERT_TRUE(platform::atomic_write_file(
        ini,
        "; request\r\n[Patient Details]\r\nPatientName=doe jane ; a comment\r\nPatientId=p123\r\n"
        "RecordingID=ABCD1234566\r\nSnif=General\r\nAge=42\r\n[Remarks]\r\n1=first\r\n2=\r\n3=third\n"));
    ASSERT_EQ(req.read_patient_details(ini), Read::Read);
    EXPECT_EQ(req.patient_name, "doe jane");
    EXPECT_EQ(req.patient_id, "p123");
    EXPECT_EQ(req.hospital, "General");
    EXPECT_EQ(req.age, "42");
    EXPECT_EQ(req.comments, "first\r\nthird\r\n");
    EXPECT_EQ(req.output_path, src_ + "/ABCD1234566.CEF");

    struct Case {
        const char* body;
        Read code;
        const char* file;
    };
    const Case cases[] = {
        {"[Patient Details]\nPatientName=a\nRecordingID=r\n", Read::NoPatientId, ""},
        {"[Patient Details]\nPatientId=a\nRecordingID=r\n", Read::NoPatientName, ""},
        {"[Patient Details]\nPatientId=a\nPatientName=b\n", Read::NoRecordingId, ""},
        {"[Patient Details]\nPatientId=a\nPatientName=b\nRecordingID=../..\n", Read::NoRecordingId, ""},
        {"[Patient Details]\nPatientId=a\nPatientName=b\nRecordingID=../../etc/x\n", Read::Read, "etcx.CEF"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::atomic_write_file(ini, c.body));
        CompressCfRequest r;
        r.folder = src_;
        EXPECT_EQ(r.read_patient_details(ini), c.code) << c.body;
        if (c.code == Read::Read) {
            EXPECT_EQ(r.output_path, src_ + "/" + c.file);
        }
    }
    EXPECT_EQ(make_cef_file_name("A\\B/C.D:E*F?G<H>I|J\"K"), "ABCDEFGHIJK.CEF");
    EXPECT_EQ(make_cef_file_name(".."), "Compressed ECG Report.CEF");
}

}  // namespace
}  // namespace tv::cef_test
