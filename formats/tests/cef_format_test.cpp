#include <fcntl.h>
#include <gtest/gtest.h>

#include "common/safe_open.h"
#include "common/scramble.h"
#include "formats/tests/cef_test_support.h"

namespace tv::cef_test {
namespace {

TEST(CefFormat, HeaderBytesAndRoundTrip) {
    CefHeader h;
    set_cef_description(h, "Jane");
    h.creation_time = 0x01020304;
    h.kind = kCefKindTwelveLead;
    h.channel_count = 8;
    h.start_sample = 4769280;
    const auto b = encode_cef_header(h);
    Bytes expected;
    append_le32(expected, 0);
    append_le32(expected, 108);
    append_le32(expected, 1);
    const std::string sig("Compressed ECG\0\0", 16);
    expected.insert(expected.end(), sig.begin(), sig.end());
    Bytes desc(64, 0);
    desc[0] = 'J', desc[1] = 'a', desc[2] = 'n', desc[3] = 'e';
    expected.insert(expected.end(), desc.begin(), desc.end());
    append_le32(expected, 0x01020304);
    append_le32(expected, 13);
    append_le32(expected, 8);
    append_le32(expected, 4769280);
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);

    CefHeader back;
    ASSERT_TRUE(decode_cef_header(b.data(), b.size(), back));
    EXPECT_TRUE(cef_signature_matches(back));
    EXPECT_EQ(get_cef_description(back), "Jane");
    EXPECT_EQ(back.kind, 13);
    EXPECT_EQ(back.start_sample, 4769280);
    EXPECT_FALSE(decode_cef_header(b.data(), 107, back));
}

TEST(CefFormat, DescriptionIsBoundedBothWays) {
    CefHeader h;
    set_cef_description(h, std::string(100, 'x'));
    EXPECT_EQ(get_cef_description(h), std::string(63, 'x'));
    EXPECT_EQ(h.description[63], '\0');
    // A file whose description has no NUL gives its 64 bytes and never runs into later fields.
    h.description.fill('y');
    h.creation_time = 0x41414141;
    EXPECT_EQ(get_cef_description(h), std::string(64, 'y'));
}

TEST(CefFormat, TimeWordKeepsLow32Bits) {
    EXPECT_EQ(cef_time_word(1234567890), 1234567890);
    const std::int64_t after_2038 = 0x80000010LL;
    EXPECT_EQ(static_cast<std::uint32_t>(cef_time_word(after_2038)), after_2038);
}

TEST(CefFormat, BitReductionVectors) {
    // n = 4: 3 -> 16 -> 1, 100 -> 108 -> 6, 4090 unchanged -> 255, 0 stays 0; flags kept.
    EXPECT_EQ(cef_reduce_sample(3, 4), 1);
    EXPECT_EQ(cef_reduce_sample(100, 4), 6);
    EXPECT_EQ(cef_reduce_sample(4090, 4), 255);
    EXPECT_EQ(cef_reduce_sample(0, 4), 0);
    EXPECT_EQ(cef_reduce_sample(0x1064, 4), 0x0106);
    EXPECT_EQ(static_cast<std::uint16_t>(cef_reduce_sample(0x1064, 4) << 4), 0x1060);
    // n = 1: h = 1; a flag-only word has value 0 < h and becomes 2.
    EXPECT_EQ(cef_reduce_sample(0x1000, 1), 0x0801);
    EXPECT_EQ(cef_reduce_sample(5, 1), 3);
    // n = 0 and out-of-range n leave the word alone.
    EXPECT_EQ(cef_reduce_sample(0x1234, 0), 0x1234);
    EXPECT_EQ(cef_reduce_sample(0x1234, 7), 0x1234);
    std::vector<std::uint16_t> w{0, 3, 100, 4090, 0x1064};
    cef_reduce_samples(w.data(), w.size(), 4);
    EXPECT_EQ(w, (std::vector<std::uint16_t>{0, 1, 6, 255, 0x0106}));
}

class CefChannelFile : public CefTest {};

TEST_F(CefChannelFile, ReduceAndRestoreInPlaceSkippingTwelveLeadHeader) {
    const std::string raw = path("RAWECG1.DAT");
    ASSERT_TRUE(write_bytes(raw, words_to_bytes({0, 3, 100, 4090, 0x1064})));
    ASSERT_TRUE(cef_reduce_channel_file(raw, 4, false));
    EXPECT_EQ(read_bytes(raw), words_to_bytes({0, 1, 6, 255, 0x0106}));
    ASSERT_TRUE(cef_restore_channel_file(raw, 4, false));
    EXPECT_EQ(read_bytes(raw), words_to_bytes({0, 16, 96, 4080, 0x1060}));

    // os12: one byte, H = 5, two more header bytes, then samples; an odd trailing byte is kept.
    const std::string os12 = path("os12ecg1.dat");
    Bytes b{0x07, 0x05, 0x00, 0xAA, 0xBB};
    const Bytes samples = words_to_bytes({0x0123, 3});
    b.insert(b.end(), samples.begin(), samples.end());
    b.push_back(0x99);
    ASSERT_TRUE(write_bytes(os12, b));
    ASSERT_TRUE(cef_restore_channel_file(os12, 4, true));
    const Bytes after = read_bytes(os12);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 5), Bytes(b.begin(), b.begin() + 5));
    EXPECT_EQ(load_le32(after, 5), 0x00301230u);
    EXPECT_EQ(after.back(), 0x99);
}

TEST_F(CefChannelFile, BadTwelveLeadHeaderLengthIsRefused) {
    for (std::uint16_t h : {0, 2, 200}) {
        const std::string os12 = path("os12ecg2.dat");
        ASSERT_TRUE(
            write_bytes(os12, {0x01, static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), 1, 2, 3, 4}));
        EXPECT_FALSE(cef_reduce_channel_file(os12, 2, true)) << h;
        EXPECT_EQ(read_bytes(os12).size(), 7u);
    }
    EXPECT_FALSE(cef_reduce_channel_file(path("missing.dat"), 2, false));
    EXPECT_FALSE(cef_reduce_channel_file(path("missing.dat"), 9, false));
}

TEST_F(CefChannelFile, ReduceIntoANewFileLeavesTheSourceAsItWas) {
    // os12: one byte, H = 5, two more header bytes, samples, an odd trailing byte: all but the
    // samples go over as they are.
    Bytes os12{0x07, 0x05, 0x00, 0xAA, 0xBB}, os12_reduced(os12);
    for (const auto& [to, words] :
         {std::pair{&os12, words_to_bytes({100, 3})}, {&os12_reduced, words_to_bytes({6, 1})}})
        to->insert(to->end(), words.begin(), words.end());
    os12.push_back(0x99), os12_reduced.push_back(0x99);
    // More than one piece of writing, and an odd length.
    std::vector<std::uint16_t> many(100001), many_reduced(many.size());
    for (std::size_t i = 0; i < many.size(); ++i)
        many_reduced[i] = cef_reduce_sample(many[i] = static_cast<std::uint16_t>(i * 7 % 0x10000), 2);
    Bytes long_odd = words_to_bytes(many), long_odd_reduced = words_to_bytes(many_reduced);
    long_odd.push_back(0x42), long_odd_reduced.push_back(0x42);
    const struct {
        const char* name;
        Bytes source;
        int n;
        bool twelve_lead;
        Bytes expected;
    } cases[] = {
        {"RAWECG1.DAT", words_to_bytes({0, 3, 100, 4090, 0x1064}), 4, false, words_to_bytes({0, 1, 6, 255, 0x0106})},
        {"RAWECG2.DAT", words_to_bytes({3, 100, 0x1064}), 0, false, words_to_bytes({3, 100, 0x1064})},
        {"RAWECG3.DAT", {}, 4, false, {}},
        {"os12ecg1.dat", os12, 4, true, os12_reduced},
        {"long.dat", long_odd, 2, false, long_odd_reduced},
    };
    const platform::UniqueFd target = open_folder_no_link(out_);
    ASSERT_TRUE(target);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(write_bytes(path(c.name), c.source));
        const platform::UniqueFd in(::open(path(c.name).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(cef_reduce_channel_file_into(in.get(), target.get(), c.name, c.n, c.twelve_lead));
        EXPECT_EQ(read_bytes(out_ + "/" + c.name), c.expected);
        EXPECT_EQ(read_bytes(path(c.name)), c.source);
        // Never over a name that is there: that file stays as it was.
        EXPECT_FALSE(cef_reduce_channel_file_into(in.get(), target.get(), c.name, 1, c.twelve_lead));
        EXPECT_EQ(read_bytes(out_ + "/" + c.name), c.expected);
    }
    // A header longer than its file, a level outside 0..4 or no source: nothing is left.
    ASSERT_TRUE(write_bytes(path("bad.dat"), {0x01, 200, 0, 1, 2, 3, 4}));
    const platform::UniqueFd bad(::open(path("bad.dat").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_FALSE(cef_reduce_channel_file_into(bad.get(), target.get(), "bad.dat", 2, true));
    EXPECT_FALSE(cef_reduce_channel_file_into(bad.get(), target.get(), "level.dat", 5, false));
    EXPECT_FALSE(cef_reduce_channel_file_into(-1, target.get(), "none.dat", 2, false));
    for (const char* name : {"bad.dat", "level.dat", "none.dat"}) EXPECT_FALSE(file_exists(out_ + "/" + name)) << name;
}

TEST_F(CefChannelFile, PrecompressReducesOnlyExistingChannelFiles) {
    ASSERT_TRUE(write_bytes(path("rawecg1.dat"), words_to_bytes({100})));
    ASSERT_TRUE(write_bytes(path("RAWECG3.DAT"), words_to_bytes({3})));
    ASSERT_TRUE(precompress_folder_ecg(root_, 4, false));
    EXPECT_EQ(read_bytes(path("rawecg1.dat")), words_to_bytes({6}));
    EXPECT_EQ(read_bytes(path("RAWECG3.DAT")), words_to_bytes({1}));
    EXPECT_FALSE(precompress_folder_ecg(root_, 5, false));
}

TEST(CefFormat, ChannelNamesAndCounts) {
    EXPECT_EQ(cef_channel_file_name(false, 0), "RAWECG1.DAT");
    EXPECT_EQ(cef_channel_file_name(true, 7), "os12ecg8.dat");
    EXPECT_TRUE(cef_kind_uses_twelve_lead_names(13));
    EXPECT_FALSE(cef_kind_uses_twelve_lead_names(11));
    EXPECT_FALSE(cef_kind_uses_twelve_lead_names(15));
    EXPECT_TRUE(cef_channel_count_valid(3, false));
    EXPECT_FALSE(cef_channel_count_valid(4, false));
    EXPECT_TRUE(cef_channel_count_valid(8, true));
    EXPECT_FALSE(cef_channel_count_valid(9, true));
    EXPECT_FALSE(cef_channel_count_valid(0, true));
    EXPECT_FALSE(cef_channel_count_valid(-1, false));
}

TEST(CefFormat, ExtraMemberNames) {
    for (const char* ok : {"CNAV.DAT", "os12pac.dat", "a b.txt", "EVENT.DAT"})
        EXPECT_TRUE(cef_extra_name_acceptable(ok)) << ok;
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "a\\b", "C:x", "/etc/passwd", "PATIENT.TXT", "rawecg2.dat",
                            "OS12ECG8.DAT", "recording.dat", "VERSION.TXT", "CEFTEMP.BIN", "tab\there"})
        EXPECT_FALSE(cef_extra_name_acceptable(bad)) << bad;
    EXPECT_TRUE(cef_extra_name_acceptable(std::string(260, 'n')));
    EXPECT_FALSE(cef_extra_name_acceptable(std::string(261, 'n')));
}

TEST(CefFormat, PatientTextLayoutAndScrambling) {
    std::vector<std::string> fields(17);
    fields[2] = "Doe Jane";
    fields[3] = "   ";
    fields[16] = std::string(3100, 'c');
    const std::string text = format_cef_patient_text(fields);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], "--");
    EXPECT_EQ(lines[2], "Doe Jane");
    EXPECT_EQ(lines[3], "--");
    EXPECT_EQ(lines[16].size(), 3000u);
    EXPECT_EQ(format_cef_patient_text({}),
              "--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--\r\n--");

    // The shared scrambler agrees with the shuffle derived here and with the known values.
    const auto p = permutation();
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{58, 44, 20, 98}));
    EXPECT_EQ(scrambled("--\r\n"), (Bytes{0x34, 0x34, 0x9C, 0x90}));
    Bytes mine = to_bytes(text);
    scramble_bytes(mine.data(), mine.size());
    EXPECT_EQ(mine, scrambled(text));
}

TEST(CefFormat, ExtraLists) {
    ASSERT_EQ(cef_card_extra_list().size(), 4u);
    EXPECT_TRUE(cef_card_extra_list()[0].required);
    EXPECT_TRUE(cef_card_extra_list()[1].required);
    EXPECT_FALSE(cef_card_extra_list()[2].required);
    ASSERT_EQ(cef_twelve_lead_extra_list().size(), 6u);
    EXPECT_EQ(cef_twelve_lead_extra_list()[5].name, "complex.dat");
}

}  // namespace
}  // namespace tv::cef_test
