// The reader's parts against golden values and an in-process deck.
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "kelmoth/kelmoth.h"
#include "platform/deck_model.h"
#include "platform/handles.h"
#include "testing/test_root.h"
#include "tools/tapegen/tapegen.h"

namespace {

using namespace tv::kelmoth;
namespace ring = tv::platform::ring;

// State with in-memory stand-ins for the mappings and output to a scratch file.
struct Fixture {
    Fixture() {
        out_file.reset(std::tmpfile());
        k.out = out_file.get();
        ecg_store.assign(3 * std::size_t(tv::kRawEcgSamples), 0);
        for (int c = 0; c < 3; ++c) k.ecg[c] = ecg_store.data() + c * std::size_t(tv::kRawEcgSamples);
        k.ctrl = ctrl;
        k.events = &events;
        k.tape = &tape;
        std::memset(ctrl, 0, sizeof ctrl);
        std::memset(&events, 0, sizeof events);
        std::memset(&tape, 0, sizeof tape);
    }
    std::string output() {
        std::fflush(k.out);
        std::rewind(k.out);
        std::string s;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, k.out)) > 0) s.append(buf, n);
        return s;
    }
    void add_words(std::int32_t first_position, const std::vector<std::uint32_t>& words) {
        for (std::size_t i = 0; i < words.size(); ++i) {
            k.tc_position[k.tc_count + i] = first_position + 256 * static_cast<std::int32_t>(i);
            k.tc_word[k.tc_count + i] = words[i];
        }
        k.tc_count = k.tc_count + static_cast<std::int32_t>(words.size());
    }
    tv::platform::UniqueFile out_file;
    Kelmoth k;
    std::vector<std::uint16_t> ecg_store;
    tv::EcgControlBlock ctrl[3];
    tv::PatientEventList events;
    tv::TapeDataBlock tape;
};

TEST(KelmothPackets, PaddingTapeTableAndFlagWords) {
    EXPECT_EQ(padded_length(12), 23u);
    EXPECT_EQ(padded_length(20), 23u);
    EXPECT_EQ(padded_length(23), 23u);
    EXPECT_EQ(padded_length(24), 39u);
    EXPECT_EQ(padded_length(104), 119u);
    EXPECT_EQ(padded_length(-4), 7u);

    EXPECT_EQ(find_tape_type(4), -1);
    EXPECT_EQ(find_tape_type(18), -1);
    EXPECT_EQ(find_tape_type(12), -1);
    struct Row {
        int type;
        std::uint32_t normal, half_gain, slow, fast;
    } rows[] = {{1, 0x2080, 0xA0C0, 0x2180, 0x2000}, {2, 0x2080, 0xA0C0, 0x2180, 0x2000},
                {3, 0x2280, 0xA2C0, 0x2380, 0x2200}, {5, 0x2280, 0xA2C0, 0x2380, 0x2200},
                {6, 0x2280, 0xE2C0, 0x2380, 0x2200}, {9, 0x62C0, 0x62C0, 0x63C0, 0x6240}};
    for (const Row& r : rows) {
        const int row = find_tape_type(r.type);
        ASSERT_GE(row, 0);
        EXPECT_EQ(flag_word(row, 500, 0), r.normal) << r.type;
        EXPECT_EQ(flag_word(row, 500, 1), r.half_gain) << r.type;
        EXPECT_EQ(flag_word(row, 125, 0), r.slow) << r.type;
        EXPECT_EQ(flag_word(row, 1000, 0), r.fast) << r.type;
    }
    EXPECT_EQ(flag_word(find_tape_type(9), 250, 0), 0x6340u);
}

TEST(KelmothPackets, StartCommandAndCommandLine) {
    Fixture f;
    EXPECT_EQ(parse_command_line(f.k, {"/TYPE", "1", "/pace", "0", "/flutter", "0", "/gain", "1",
                                       "/disablespeedcontrol", "/skip24", "/unknown"}),
              CommandLine::accepted);
    EXPECT_EQ(f.k.skip_start, kSkip24Start);
    std::uint32_t p[26] = {15, 107, 502};
    ASSERT_EQ(build_start_command(f.k, p), 26);
    // clang-format off
    const std::uint32_t golden[26] = {15, 107, 502, 1, 1, 1, 2, 8, 16, 1, 0x3FBC28F6, 0, 1,
                                      16, 1, 0, 500, 1, 1, 1, 0, 0, 1, 58336, 0xA0C0, 0};
    // clang-format on
    for (int i = 0; i < 26; ++i) EXPECT_EQ(p[i], golden[i]) << "word " << i;
    EXPECT_EQ(f.tape.channel_words[0], 1);
    EXPECT_EQ(f.tape.channel_words[2], 1);

    Fixture g;
    EXPECT_EQ(parse_command_line(g.k, {"/debug", "/type", "12"}), CommandLine::accepted);
    EXPECT_EQ(g.k.start_request, 1);
    std::uint32_t q[26] = {};
    EXPECT_EQ(build_start_command(g.k, q), -1);
    Fixture h;
    EXPECT_EQ(parse_command_line(h.k, {"/type", "5", "/debug"}), CommandLine::accepted);
    EXPECT_EQ(h.k.start_request, 0);
    EXPECT_EQ(h.k.interactive, 1);
    Fixture i;
    EXPECT_EQ(parse_command_line(i.k, {"/pace", "1", "/type"}), CommandLine::invalid);
    EXPECT_EQ(parse_command_line(i.k, {"/type", "9", "/type"}), CommandLine::accepted);
    EXPECT_EQ(parse_command_line(i.k, {"/type", "14"}), CommandLine::invalid);
}

TEST(KelmothTimeCodes, GoldenWordsAndDigits) {
    EXPECT_EQ(tv::tapegen::time_word(14, 23, true), 0x9A6F3F0Fu);
    EXPECT_EQ(tv::tapegen::time_word(0, 0, true), 0x7FFDFD0Fu);
    EXPECT_EQ(tv::tapegen::time_word(23, 59, true), 0xBDB6BF0Fu);
    TimeCode t = decode_time_code(0x9A6F3F0F);
    EXPECT_EQ(t.time, 0x1423);
    EXPECT_EQ(t.time_valid, 1);
    EXPECT_EQ(decode_time_code(0x9A6F3F00).time, 0x1423);
    EXPECT_EQ(decode_time_code(0xBDB6BF0F).time, 0x2359);
    EXPECT_EQ(decode_time_code(0x7FFDFD0F).time, 0);
    // Minute tens of 6 is no time.
    const std::uint32_t sixty = (0x9A6F3F0Fu & ~(0x3Fu << 18) & ~(1u << 9)) | (0x3Du << 18) | (1u << 9);
    EXPECT_EQ(decode_time_code(sixty).time_valid, 0);
    // An unknown pattern leaves the digit 0 and the flag set.
    const std::uint32_t odd = (0x9A6F3F0Fu & ~(0x3Fu << 10)) | (0x01u << 10);
    t = decode_time_code(odd);
    EXPECT_EQ(t.time, 0x1420);
    EXPECT_EQ(t.time_valid, 1);
    t = decode_time_code(0x9A6F3E0F);  // bit 8 clear: another value
    EXPECT_EQ(t.time_valid, 0);
    EXPECT_EQ(t.other_valid, 1);
}

TEST(KelmothTimeCodes, StartTimeNeedsTwoEqualValidWordsAboveTheSkip) {
    Fixture f;
    const std::uint32_t zero = tv::tapegen::time_word(0, 0, true), t1423 = tv::tapegen::time_word(14, 23, true);
    f.add_words(256, {zero, zero, 0x12345600, t1423, t1423, t1423});
    start_time_search(f.k);
    EXPECT_EQ(f.k.start_found, 1);
    EXPECT_EQ(f.tape.start_time_code, 0x1423);
    EXPECT_EQ(f.tape.start_offset, 256 * 5);

    Fixture g;  // the skip start counts positions and hides earlier words
    g.k.skip_start = kSkip24Start;
    g.add_words(kSkip24Start - 100, {t1423, t1423, t1423});
    start_time_search(g.k);
    EXPECT_EQ(g.tape.start_offset, 412);  // the word at the skip start's far side has no valid forerunner
}

// LC_ALL as the user's environment gives it, for one test; the old value comes back afterwards.
class UserLocale {
public:
    explicit UserLocale(const char* name) {
        if (const char* v = std::getenv("LC_ALL")) saved_ = v;
        ::setenv("LC_ALL", name, 1);
    }
    ~UserLocale() {
        if (saved_)
            ::setenv("LC_ALL", saved_->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

private:
    std::optional<std::string> saved_;
};

TEST(KelmothSerial, BlockFieldsChecksumAndDate) {
    UserLocale c("C");
    std::uint8_t b[32] = {0, 0x30, 0x14, 0x25, 0x12, 0,    0x99, 0,    0x05, 0xF8,
                          0, 0,    0,    0,    0,    0x20, 0x4D, 0x5A, 0x34, 0x12};
    SerialBlock s = parse_serial_block(b);
    EXPECT_EQ(s.serial, 0x12345u);
    EXPECT_EQ(s.hours_run, 0xA4D2);
    EXPECT_FALSE(s.checksum_ok);  // 0x5A instead of 0x50 breaks the sum
    b[17] = 0x50;
    s = parse_serial_block(b);
    EXPECT_TRUE(s.checksum_ok);
    EXPECT_EQ(s.hours_run, 1234);
    EXPECT_EQ(serial_block_date(s), "12/25/1999");
    b[6] = 0x05;
    EXPECT_EQ(serial_block_date(parse_serial_block(b)), "12/25/2005");
    b[4] = 0x13;  // month 13
    EXPECT_EQ(serial_block_date(parse_serial_block(b)), "");
    b[4] = 0x02;
    b[3] = 0x30;  // 30 February
    EXPECT_EQ(serial_block_date(parse_serial_block(b)), "");
    b[3] = 0x1A;  // not BCD
    EXPECT_EQ(serial_block_date(parse_serial_block(b)), "");
}

TEST(KelmothSerial, RecordingDateFollowsTheUsersLocale) {
    const std::uint8_t b[32] = {0, 0x30, 0x14, 0x25, 0x12, 0, 0x99, 0, 0x05, 0xF8, 0, 0, 0, 0, 0, 0x20, 0x4D, 0x50};
    const struct {
        const char* locale;
        const char* date;
    } rows[] = {{"C", "12/25/1999"},
                {"POSIX", "12/25/1999"},
                {"de_DE.UTF-8", "25.12.1999"},
                {"en_GB.UTF-8", "25/12/1999"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.locale);
        if (locale_t l = ::newlocale(LC_TIME_MASK, row.locale, static_cast<locale_t>(0)))
            ::freelocale(l);
        else
            continue;  // not made on this machine
        UserLocale user(row.locale);
        EXPECT_EQ(serial_block_date(parse_serial_block(b)), row.date);
    }
}

TEST(KelmothSerial, SearchFramesTheBlockAndStaysInsideTheStore) {
    // The words the generator puts on tape, from the start.
    tv::tapegen::Options o;
    o.packets = 3000;
    tv::tapegen::Expected e;
    std::string error;
    tv::platform::testing::TempRoot root;
    ASSERT_TRUE(tv::tapegen::generate(o, root / "t.trace", e, error));
    tv::platform::DeckGeometry g;
    std::uint32_t idle = 0;
    tv::platform::FileTraceSource src;
    ASSERT_TRUE(src.open(root / "t.trace", g, idle, error));
    Fixture f;
    tv::platform::TraceRecord r;
    while (src.next(r))
        if (r.kind == tv::platform::TraceKind::message && r.bytes.size() == 268)
            append_time_code_block(f.k, r.bytes.data(), 268);
    ASSERT_GT(f.k.tc_count, 800);
    SerialBlock s;
    EXPECT_EQ(find_serial_block(f.k.tc_position.data(), f.k.tc_word.data(), f.k.tc_count, 0, s), 210);
    EXPECT_EQ(s.serial, 0x12345u);
    // Cut the store inside the block: no block, and nothing read past the count.
    EXPECT_EQ(find_serial_block(f.k.tc_position.data(), f.k.tc_word.data(), 400, 0, s), -1);
    // Too few words for any sync.
    EXPECT_EQ(find_serial_block(f.k.tc_position.data(), f.k.tc_word.data(), 1, 0, s), -1);
    // A damaged block is passed over.
    std::vector<std::uint32_t> words(f.k.tc_word.begin(), f.k.tc_word.begin() + f.k.tc_count);
    words[242 + 8 * 9] ^= 0x80;  // bit 0 of byte 9
    EXPECT_EQ(find_serial_block(f.k.tc_position.data(), words.data(), f.k.tc_count, 0, s), -1);
}

TEST(KelmothEvents, ScanPassesOverEarlyMarksAndStopsAt999) {
    Fixture f;
    f.k.skip_start = 1000;
    // Marks at positions 256 (before the skip), 1280 and 1280 + 3 words (the same mark), then 1280 + 9 words.
    std::vector<std::uint32_t> w(20, 0x0F);
    w[0] = 0;
    w[4] = 0;
    w[7] = 0;
    w[13] = 0;
    f.add_words(256, w);
    EXPECT_EQ(patient_event_scan(f.k), 1280 - 1000);
    EXPECT_EQ(patient_event_scan(f.k), 256 * 14 - 1000);
    EXPECT_EQ(patient_event_scan(f.k), 0);
    EXPECT_EQ(f.events.positions[0], 280);
    EXPECT_EQ(f.events.positions[2], 0);

    Fixture g;
    std::vector<std::uint32_t> marks(8 * 1200, 0x0F);
    for (std::size_t i = 0; i < marks.size(); i += 8) marks[i] = 0;
    g.add_words(256, std::vector<std::uint32_t>(marks.begin(), marks.begin() + 8 * 1000));
    std::memset(&g.events, 0x55, sizeof g.events);
    drain_patient_events(g.k);
    EXPECT_EQ(g.k.event_count, 999);
    EXPECT_EQ(g.events.positions[998], 256 + 256 * 8 * 998);
    EXPECT_EQ(g.events.positions[999], 0);
}

// A ring in ordinary memory, for process_entry and check_ring.
struct Ring {
    explicit Ring(std::uint32_t ppe = 2, std::uint32_t stride = 1024, std::uint32_t entries = 4) {
        bpe = 8 * ppe + ppe * stride;
        mem.assign(ring::kHeaderRoom + entries * bpe, 0);
        set(ring::kPacketsPerEntry, ppe);
        set(ring::kStride, stride);
        set(ring::kBytesPerEntry, bpe);
        set(ring::kEntries, entries);
    }
    void set(std::size_t at, std::uint32_t v) { std::memcpy(mem.data() + at, &v, 4); }
    std::uint8_t* header() { return mem.data(); }
    std::uint8_t* entry(std::uint32_t i) { return mem.data() + ring::kHeaderRoom + i * bpe; }
    void put(std::uint32_t e, std::uint32_t k, const tv::platform::TraceRecord& p, std::uint32_t ppe = 2,
             std::uint32_t stride = 1024) {
        std::memcpy(entry(e) + 8 * k, &p.desc_status, 4);
        std::memcpy(entry(e) + 8 * k + 4, &p.desc_length, 4);
        std::memcpy(entry(e) + 8 * ppe + k * stride, p.bytes.data(), p.bytes.size());
    }
    std::uint32_t bpe;
    std::vector<std::uint8_t> mem;
};

tv::platform::TraceRecord good_packet(std::int32_t sample, int count = 150) {
    tv::platform::TraceRecord r;
    r.kind = tv::platform::TraceKind::packet;
    r.desc_length = 920;
    r.bytes.assign(912, 0);
    std::memcpy(r.bytes.data() + 2, &sample, 4);
    r.bytes[6] = static_cast<std::uint8_t>(count);
    r.bytes[7] = 0xF0;
    r.bytes[309] = 0xF1;
    r.bytes[611] = 0xF2;
    for (int i = 0; i < count; ++i) {
        const std::uint16_t v = static_cast<std::uint16_t>(sample + i + 1);
        std::memcpy(r.bytes.data() + 8 + 2 * i, &v, 2);
    }
    return r;
}

TEST(KelmothRing, HostileGeometryIsRefused) {
    RingShape s;
    std::string why;
    Ring ok;
    EXPECT_TRUE(check_ring(ok.header(), ok.mem.size() - ring::kHeaderRoom, s, why)) << why;
    auto refused = [&](std::size_t at, std::uint32_t v) {
        Ring r;
        r.set(at, v);
        return !check_ring(r.header(), r.mem.size() - ring::kHeaderRoom, s, why);
    };
    EXPECT_TRUE(refused(ring::kEntries, 0));
    EXPECT_TRUE(refused(ring::kEntries, 5));  // more entries than memory
    EXPECT_TRUE(refused(ring::kWriteIndex, 4));
    EXPECT_TRUE(refused(ring::kReadIndex, 0xFFFFFFFF));
    EXPECT_TRUE(refused(ring::kStride, 919));
    EXPECT_TRUE(refused(ring::kPacketsPerEntry, 0));
    EXPECT_TRUE(refused(ring::kPacketsPerEntry, 0x40000000));  // overflows a 32-bit product
    EXPECT_TRUE(refused(ring::kBytesPerEntry, 8 * 2 + 1024 + 911));
    EXPECT_FALSE(refused(ring::kBytesPerEntry, 8 * 2 + 1024 + 912));
}

TEST(KelmothRing, PacketsAreCheckedSkippedAndStored) {
    Fixture f;
    Ring r;
    RingShape s;
    std::string why;
    ASSERT_TRUE(check_ring(r.header(), r.mem.size() - ring::kHeaderRoom, s, why));
    auto bad = good_packet(0);
    bad.bytes[309] = 0;
    r.put(0, 0, bad);
    bad = good_packet(0, 75);
    r.put(0, 1, bad);
    process_entry(f.k, r.entry(0), s);
    bad = good_packet(0);
    bad.desc_status = 1;
    r.put(1, 0, bad);
    bad = good_packet(0);
    bad.desc_length = 919;
    r.put(1, 1, bad);
    process_entry(f.k, r.entry(1), s);
    EXPECT_EQ(f.k.packet_errors, 4u);
    EXPECT_EQ(f.ctrl[0].samples_written, 0);

    // The skip edge: a packet ending at the skip start is dropped; one across it is kept whole.
    f.k.skip_start = kSkip24Start;
    f.k.expected_sample = kSkip24Start - 150;
    r.put(2, 0, good_packet(kSkip24Start - 150));
    auto across = good_packet(kSkip24Start);
    across.desc_status = 9;
    r.put(2, 1, across);
    process_entry(f.k, r.entry(2), s);
    EXPECT_EQ(f.ctrl[0].samples_written, 150);
    EXPECT_EQ(f.k.ecg[0][0], static_cast<std::uint16_t>(kSkip24Start + 1));
    EXPECT_EQ(f.k.expected_sample, kSkip24Start + 150);

    // A gap is reported and ends the stream: neither that packet nor any later one is stored, even
    // one that would follow the last stored.
    r.put(3, 0, good_packet(kSkip24Start + 1000));
    r.put(3, 1, good_packet(kSkip24Start + 150));
    process_entry(f.k, r.entry(3), s);
    EXPECT_NE(f.output().find("ISO sample numbers mismatch. Expected 11059350, actually 11060200\n"),
              std::string::npos);
    EXPECT_EQ(f.k.stream_broken, 1);
    EXPECT_EQ(f.ctrl[2].samples_written, 150);
    EXPECT_EQ(f.k.ecg[0][150], 0);
}

TEST(KelmothRing, FullMappingsAndHostileStartSample) {
    Fixture f;
    Ring r;
    RingShape s;
    std::string why;
    ASSERT_TRUE(check_ring(r.header(), r.mem.size() - ring::kHeaderRoom, s, why));
    f.ctrl[0].start_sample = static_cast<std::int32_t>(tv::kRawEcgSamples) - kFullMarginSamples - 100;
    reset_transfer_pointers(f.k);
    EXPECT_EQ(f.k.memory_full, 0);
    r.put(0, 0, good_packet(0));
    r.put(0, 1, good_packet(150));
    process_entry(f.k, r.entry(0), s);
    EXPECT_EQ(f.k.memory_full, 1);
    EXPECT_EQ(f.ctrl[0].samples_written, 0);  // the packet that crossed is stored, not counted
    EXPECT_EQ(f.k.ecg[0][f.ctrl[0].start_sample + 149], 150);
    EXPECT_EQ(f.k.ecg[0][f.ctrl[0].start_sample + 150], 0);

    for (std::int32_t hostile : {-1, static_cast<std::int32_t>(tv::kRawEcgSamples)}) {
        Fixture g;
        g.ctrl[0].start_sample = hostile;
        g.ctrl[1].samples_written = 77;
        g.ctrl[1].transfer_done = 1;
        reset_transfer_pointers(g.k);
        EXPECT_EQ(g.k.memory_full, 1);
        EXPECT_EQ(g.ctrl[1].samples_written, 0);
        EXPECT_EQ(g.ctrl[1].transfer_done, 0);
        process_entry(g.k, r.entry(0), s);
        EXPECT_EQ(g.ctrl[0].samples_written, 0);
    }
}

// Entries the driver writes while the transfer waits on an empty ring are stored, however the
// transfer then ends: by the driver's disable, the running flag or the data timeout.
TEST(KelmothRing, EntriesWrittenBeforeTheEndAreStored) {
    enum class End { disabled, stopped, timeout };
    const struct {
        End end;
        const char* line;
    } cases[] = {
        {End::disabled, "USB Iso Transfer thread ending because driver has disabled DMA\n"},
        {End::stopped, "USB Iso Transfer thread ending because going is FALSE\n"},
        {End::timeout,
         "USB Iso Transfer thread is stopping due to timeout on ECG data from replay - end of transfer\n"},
    };
    for (const auto& c : cases) {
        Fixture f;
        Ring r;
        f.k.running = 1;
        f.k.ring_header = r.header();
        f.k.ring_buffer = r.entry(0);
        f.k.ring_buffer_bytes = r.mem.size() - ring::kHeaderRoom;
        std::uint32_t published = 0, waits = 0;
        auto publish = [&] {
            r.put(published, 0, good_packet(300 * static_cast<std::int32_t>(published)));
            r.put(published, 1, good_packet(300 * static_cast<std::int32_t>(published) + 150));
            r.set(ring::kWriteIndex, ++published);
        };
        // Each wait stands for one that lasts longer than the data timeout while the deck writes.
        f.k.iso_idle = [&] {
            ++waits;
            f.k.last_entry_ms = f.k.last_entry_ms - 2000;
            if (published < 3) {
                publish();
                if (published == 3 && c.end == End::disabled) r.set(ring::kEnabled, 0);
                if (published == 3 && c.end == End::stopped) f.k.running = 0;
            }
        };
        prepare_transfer(f.k);
        iso_transfer(f.k);
        SCOPED_TRACE(c.line);
        EXPECT_EQ(published, 3u);
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(f.ctrl[ch].samples_written, 900);
            EXPECT_EQ(f.ctrl[ch].transfer_done, 1);
        }
        EXPECT_EQ(f.k.ecg[0][899], 900);
        EXPECT_EQ(f.k.transfer_ended, 1);
        EXPECT_NE(f.output().find(c.line), std::string::npos) << f.output();
        EXPECT_EQ(waits, c.end == End::timeout ? 4u : 3u);
    }
}

// Sends the start command and starts the isochronous transfer, as a reader does.
bool start_iso(tv::platform::DeckModel& model) {
    int error = 0;
    const std::uint32_t start[3] = {15, 107, 502};
    std::uint8_t out[tv::platform::kDeckControlOut];
    return model.write(reinterpret_cast<const std::uint8_t*>(start), sizeof start, error) &&
           model.control(tv::platform::kIoctlStartIso, out, error);
}

// The program starts its transfer thread, which clears the ring and then enables it, before it
// asks for the run; however late that thread gets to run, the deck's first entries must not land
// in the ring before it is armed, or the clearing loses them.
TEST(KelmothDeck, DataWaitsUntilTheRingIsArmed) {
    namespace ring = tv::platform::ring;
    std::vector<tv::platform::TraceRecord> trace(16);
    for (auto& r : trace) {
        r.kind = tv::platform::TraceKind::packet;
        r.bytes.assign(ring::kPacketBytes, 0);
    }
    tv::platform::InProcessDeck deck(std::make_unique<tv::platform::VectorTraceSource>(trace),
                                     tv::platform::DeckGeometry{}, {});
    tv::platform::DeckModel& model = deck.model();
    ASSERT_TRUE(start_iso(model));
    std::uint8_t* h = model.region().base;
    sleep_ms(300);
    EXPECT_EQ(tv::platform::ring_load(h, ring::kWriteIndex), 0u);
    tv::platform::ring_store(h, ring::kEnabled, 1);
    for (int i = 0; i < 1000 && tv::platform::ring_load(h, ring::kWriteIndex) != 2; ++i) sleep_ms(10);
    EXPECT_EQ(tv::platform::ring_load(h, ring::kWriteIndex), 2u);
}

// A trace may hold empty records: an empty message is no message (a read of nothing means the
// time ran out), and a packet without bytes leaves its slot zero. A ring of one entry, always
// full, is filled as one of two.
TEST(KelmothDeck, EmptyTraceRecordsAreNoMessages) {
    using tv::platform::TraceKind;
    std::vector<tv::platform::TraceRecord> trace(10);
    trace[0].kind = TraceKind::message;
    for (std::size_t i = 1; i <= 8; ++i) trace[i].kind = TraceKind::packet;
    trace[9].kind = TraceKind::message;
    trace[9].bytes = {109, 0, 0, 0, 16, 0, 0, 0, 7, 0, 0, 0};
    tv::platform::DeckGeometry one_entry;
    one_entry.entries = 1;
    tv::platform::InProcessDeck deck(std::make_unique<tv::platform::VectorTraceSource>(trace), one_entry, {});
    tv::platform::DeckModel& model = deck.model();
    ASSERT_TRUE(start_iso(model));
    tv::platform::ring_store(model.region().base, ring::kEnabled, 1);
    std::vector<std::vector<std::uint8_t>> messages;
    std::uint8_t buffer[tv::platform::kDeckMessageMax];
    while (messages.size() < 4) {
        const int n = model.read(buffer, sizeof buffer, 5000);
        ASSERT_GT(n, 0);
        messages.emplace_back(buffer, buffer + n);
    }
    EXPECT_EQ(messages[3], trace[9].bytes);  // after the three answers to the start command
    EXPECT_EQ(tv::platform::ring_load(model.region().base, ring::kWriteIndex), 1u);
    EXPECT_EQ(tv::platform::ring_load(model.region().base, ring::kEntries), 1u);  // as the trace gave it
}

TEST(KelmothMessages, ShortAndUnknownMessagesAreNotActedOn) {
    tv::platform::InProcessDeck deck(std::make_unique<tv::platform::VectorTraceSource>(
                                         std::vector<tv::platform::TraceRecord>{}),
                                     tv::platform::DeckGeometry{}, {});
    Fixture f;
    f.k.driver = &deck;
    int error = 0;
    f.k.command = deck.open(kDeviceName, tv::platform::DeckAccess::command, error);
    ASSERT_TRUE(f.k.command);
    ReaderState st;
    auto send = [&](std::vector<std::uint32_t> words, int n = -1) {
        std::vector<std::uint8_t> m(1024, 0);
        std::memcpy(m.data(), words.data(), 4 * words.size());
        handle_message(f.k, m.data(), n < 0 ? static_cast<int>(4 * words.size()) : n, st);
    };
    send({109, 16, 150}, 12);   // status without its value
    send({109, 17, 150, 112});  // bad source
    send({80, 17, 7}, 12);      // converter values without them
    EXPECT_EQ(f.tape.status, 0);
    send({109, 16, 150, 114});
    EXPECT_EQ(f.tape.status, 114);
    EXPECT_EQ(f.tape.speed_error, 1);
    send({80, 17, 1, 92});
    send({80, 17, 10}, 264);
    send({80, 17, 99, 5}, 14);
    const auto received = deck.model().received();
    ASSERT_EQ(received.size(), 1u);  // the one status acknowledged
    EXPECT_EQ(received[0].size(), 23u);
    const std::uint8_t ack[23] = {16, 0, 0, 0, 109, 0, 0, 0, 8, 2, 0, 0};
    EXPECT_EQ(std::memcmp(received[0].data(), ack, 23), 0);
    const std::string out = f.output();
    EXPECT_NE(out.find("\nCorrupt message from replay, size 12: \n 0000006d  00000010  00000096 \n"),
              std::string::npos);
    EXPECT_NE(out.find(" replay string number too high: 92\n"), std::string::npos);
    EXPECT_NE(out.find("  Got time code block with incorrect length was 264, should have been 268\n"),
              std::string::npos);
    EXPECT_NE(out.find(" length 14, message: 80(hex 50)  17(hex 11)  99(hex 63)  5(hex 5) \n"), std::string::npos);
}

}  // namespace
