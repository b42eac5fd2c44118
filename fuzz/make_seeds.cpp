// Writes the seed corpora (fuzz/corpus/<target>/) from the project's own writers and the tests'
// card encoder: small, well-formed files of every kind, so the fuzzers start from real structure.
// Usage: make_fuzz_seeds <corpus folder>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/audit_log.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/tape_mappings.h"
#include "fuzz/fuzz_support.h"
#include "platform/deck.h"
#include "platform/deck_model.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "tolbex/archive/report_archive.h"
#include "formats/cef.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tolbex/reports/page_export.h"
#include "tolbex/reports/page_items.h"
#include "formats/transfer_file.h"
#include "tolbex/timi/timi_table_source.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/signing/signed_report.h"
#include "tools/demo/demo_pages.h"
#include "tools/demo/demo_signing.h"
#include "tools/szip/szip_format.h"
#include "tools/cardgen/card_builder.h"
#include "tools/demo/emf_writer.h"
#include "tools/demo/page_file_builder.h"

namespace {

std::string g_root;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string dir = g_root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    tv::fuzz::put_file(dir + "/" + name, bytes);
}
std::string str(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::string read_all(const std::string& path) { return tv::platform::read_whole_file(path).value_or(std::string()); }
std::string le32s(std::uint32_t v) {
    std::string s;
    tv::append_le32(s, v);
    return s;
}

void index_seeds() {
    const std::string e1 =
        tv::format_archive_entry("R0001.FRM", "Holter 24h", "01/02/2003 10:11", "12345C", "Formatted");
    const std::string e2 = tv::format_archive_entry("R0002.RAW", "Raw", "05/06/2004 08:00", "999", "Raw");
    seed("fuzz_archinfo", "two", std::string(1, '\0') + e1 + e2);
    seed("fuzz_change_record", "store",
         "operation=store\r\nowner=1-1-f\r\npid=1\r\nstart=1\r\nstaging=.TVNEW.1-1-f.0\r\nname=X.O12\r\n");
    seed("fuzz_change_record", "delete_ecg",
         "operation=delete-ecg\r\nowner=1-1-f\r\nfrom=X.O12\r\nlisted=1\r\naside=.TVECG.1-1-f.0\r\nto=X.FUL\r\n");
    seed("fuzz_change_record", "delete", "operation=delete\r\nowner=1-1-f\r\nname=Z.FUL\r\nhidden=.TVDEL.1-1-f.1\r\n");
    seed("fuzz_change_record", "move",
         "operation=move\r\nowner=1-1-f\r\nname=X.O12\r\ndestination=../B\r\nstored=Y.FUL\r\n");
    seed("fuzz_archinfo", "raw_only_lf", std::string(1, '\1') + "R0002.RAW\nRaw\n05/06/2004 08:00\n999\nRaw\n");
    seed("fuzz_archdir", "three", "STANDARD\r\nStandard\r\nDELETED\r\nDeleted Reports\r\nOTHER\r\nOther\r\n");
    seed("fuzz_archdir", "unsafe", "..\r\nUp\r\n/abs\r\nAbs\r\n");
    seed("fuzz_device_dat", "two", "1 \"/data/GROUP1\" \"Group one\"\r\n3 \"/net/g2\" \"\"\r\n2 \"/media/cd\"\r\n");
}

void report_text_seeds() {
    std::string patient8 =
        "V8.006\r\n--\r\nSmith, John\r\n12/05/1950\r\n53\r\nMale\r\nOp\r\nREC123\r\nPN77\r\n"
        "Dr Who\r\nIns\r\nHosp\r\n01/02/2003 10:11:12\r\nRID\r\nRID\r\n02/02/2003\r\nComment\r\n";
    seed("fuzz_patient_txt", "v8", std::string(1, '\1') + patient8);
    seed("fuzz_patient_txt", "v7",
         std::string(1, '\0') + "x\n-\nDoe\nJan 3 1960\nF\nR1\nDr\nIns\n3-Jan-04 1:02 PM\nRID\n4.1.2004\n");
    std::string analsum;
    for (int i = 0; i < 40; ++i) analsum += "      123.50      -45.25\r\n";
    analsum += "up down level\r\n";
    for (int i = 0; i < 20; ++i) analsum += "          12           7\r\n";
    seed("fuzz_analsum", "lines", analsum);
    seed("fuzz_ini_file", "profile",
         std::string(1, '\3') +
             "; head\r\n[Patient Details]\r\nPatientId = 12 ; "
             "c\r\nPatientName=Doe\r\n[Remarks]\r\n1=first\r\nnoeq\r\n[Empty]\r\n");
}

void registry_and_audit_seeds() {
    std::vector<tv::platform::HiveKey> keys(2);
    keys[0].path = "Software\\Torvane Medical";
    keys[1].path = "Software\\Torvane Medical\\Quorril";
    keys[1].values = {{"", tv::platform::RegValue::string("default")},
                      {"UserRoot", tv::platform::RegValue::string("C:\\ANALYSER\r\n\"q\"")},
                      {"Path", tv::platform::RegValue::expand_string("%ProgramFiles%\\x")},
                      {"Count", tv::platform::RegValue::from_dword(7)},
                      {"Blob", {tv::platform::RegType::Binary, {}, 0, std::string("\x01\x02\xff", 3)}}};
    seed("fuzz_registry_hive", "hive", tv::platform::format_hive(keys));

    std::string log = le32s(0);
    for (int i = 0; i < 3; ++i) {
        tv::AuditLogRecord r{"user", "10.0.0.1", "tolbex", "View formatted report - r" + std::to_string(i), 37987.5, 0};
        log += str(r.serialize());
    }
    std::uint32_t crc = tv::crc32_update(tv::kCrc32Start, log.data() + 4, log.size() - 4);
    tv::store_le32(reinterpret_cast<std::uint8_t*>(log.data()), crc);
    seed("fuzz_audit_log", "three", log);
    tv::AuditLogRecord one{"u", "", "p", "m", 1.0, 0};
    seed("fuzz_audit_log", "record", str(one.serialize()));
}

void page_seeds() {
    tv::PageFileBuilder b;
    b.text(100, 200, "Heart rate \xb5V", tv::kTextLarge);
    b.polyline({{0, 0}, {100, 100}, {tv::kPenUp, tv::kPenUp}, {200, 50}});
    b.trace(10, 500, 2048, 100, {2048, 2100, 2200, 1900, 2048});
    b.dot_rows(13, 0, 1000, {0, 50, 100});
    b.shape(3, 10, 10, 300, 300);
    b.shape(25, 10, 10, 300, 300);
    b.clip(0, 0, 1000, 1000);
    b.label("LBL");
    seed("fuzz_page_file", "page",
         std::string(1, '\0') + b.bytes() + tv::annotation_marker_record() +
             tv::make_page_record(tv::PageRecordKind::Text, std::string(8, '\0') + "note"));
    tv::EmfWriter w({600, 400});
    w.pen(tv::fw::PenStyle::Solid, {255, 0, 0}, 2);
    w.brush({0, 255, 0});
    w.font(40, 700);
    w.text_colour({0, 0, 255});
    w.polyline({{0, 0}, {100, 100}, {200, 50}});
    w.polygon({{10, 10}, {50, 10}, {30, 40}});
    w.rectangle({5, 5, 60, 60});
    w.move_to({0, 0});
    w.line_to({599, 399});
    w.null_brush();
    w.pen(tv::fw::PenStyle::Dash);
    w.text({20, 20}, "V1 aVR");
    seed("fuzz_metafile", "emf", w.finish());
}

void pack_seeds(const std::string& work) {
    // szip and the CEF members.
    std::vector<std::uint8_t> ecg(3000);
    for (std::size_t i = 0; i < ecg.size(); i += 2) ecg[i] = static_cast<std::uint8_t>(i / 7);
    seed("fuzz_szip", "ecg", str(tv::szip::pack(ecg)));
    seed("fuzz_szip", "text", str(tv::szip::pack(std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'})));

    // A transfer file of two small files and a long name.
    const std::string src = work + "tvzsrc/";
    ::mkdir(src.c_str(), 0700);
    tv::fuzz::put_file(src + "REPINFO.TXT", "Holter\r\n2\r\n1070000000\r\n1234\r\n");
    tv::fuzz::put_file(src + "PAGE.1", std::string(200, 'a') + "bcabcabc" + std::string(50, '\0'));
    tv::fuzz::put_file(src + "A_VERY_LONG_NAME.DAT", "long");
    const std::string tvz = work + "seed.tvz";
    if (tv::pack_transfer_file({src + "*.*"}, tvz) == 0) {
        const std::string bytes = read_all(tvz);
        seed("fuzz_tvz", "three", bytes);
        // The first entry's stream alone, for explode.
        if (bytes.size() > 32) {
            const std::uint32_t n = tv::load_le32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 20);
            seed("fuzz_explode", "stream", std::string(1, '\5') + bytes.substr(32, n));
        }
    }

    // A CEF with stored members (kind 0), so the reader runs through without a compressor.
    tv::CefHeader h;
    h.channel_count = 3;
    h.kind = tv::kCefKindCard;
    tv::set_cef_description(h, "Seed recording");
    auto head = tv::encode_cef_header(h);
    std::string cef(head.begin(), head.end());
    auto member = [&](const std::string& bytes, std::uint32_t kind) {
        cef += le32s(static_cast<std::uint32_t>(bytes.size())) + le32s(kind) + bytes;
    };
    member(tv::format_cef_patient_text({"ID1", "Doe", "R1"}), 0);  // patient text
    member("", 0);                                                 // sound
    member(std::string(16, '\0'), 0);                              // events
    for (int c = 0; c < 3; ++c) {
        member(std::string(64, static_cast<char>(c)), c == 2 ? 1 : 0);
        cef += le32s(410) + le32s(1) + le32s(0) + le32s(0);
    }
    seed("fuzz_cef", "stored", cef);
}

void card_seeds() {
    using namespace cardgen;
    auto card = [](const std::vector<Sector>& sectors) {
        std::string s(1, '\0');
        for (const Sector& x : sectors) {
            Sector plain = x;  // the harness scrambles
            s.append(reinterpret_cast<const char*>(plain.data()), plain.size());
        }
        return s;
    };
    std::mt19937 rng(7);
    for (std::uint8_t fmt : {2, 5, 64, 35}) {
        StartInfo st;
        st.format = fmt;
        st.type = fmt == 5 || fmt == 64 ? 130 : 129;
        std::vector<Sector> sectors{start_sector(st, false)};
        if (fmt == 2 || fmt == 5) {
            for (int k = 0; k < 4; ++k) {
                DataSector d;
                d.type = fmt;
                for (int i = 0; i < 360; ++i) d.values.push_back(static_cast<int>(rng() % 1024));
                for (int i = 0; i < 8; ++i) d.nibbles.push_back(static_cast<int>(rng() % 16) - 8);
                sectors.push_back(data_sector(d, false));
            }
        } else if (fmt == 35) {
            Bytes stream(1200);
            for (auto& b : stream) b = static_cast<std::uint8_t>(rng());
            for (const Sector& s : stream_sectors(stream, {0, 700}, 35, 5)) sectors.push_back(s);
        } else {
            for (int k = 0; k < 3; ++k) {
                Sector s{};
                s[0] = 64;
                tv::store_le16(&s[1], 5);
                for (int i = 5; i < 512; ++i) s[i] = static_cast<std::uint8_t>(rng());
                sectors.push_back(s);
            }
        }
        seed("fuzz_card_ecg", "format" + std::to_string(fmt), card(sectors));
        if (fmt == 35) {
            std::string bits(1, '\0');
            for (std::size_t k = 1; k < sectors.size(); ++k)
                bits.append(reinterpret_cast<const char*>(sectors[k].data()), 512);
            seed("fuzz_bitstream", "stream", bits);
        }
    }
    seed("fuzz_config_dat", "config", str(config_dat(5, 5, 5, "Doe^John", "ID123")));
}

void deck_seeds() {
    auto words = [](std::vector<std::uint32_t> w) {
        std::string s(4 * w.size(), '\0');
        std::memcpy(s.data(), w.data(), s.size());
        return s;
    };
    auto message = [](const std::string& m) {
        std::string s;
        tv::append_le16(s, static_cast<std::uint16_t>(m.size()));
        return s + m;
    };
    std::vector<std::uint32_t> tc = {80, 16, 10};
    for (int i = 0; i < 64; ++i) tc.push_back(static_cast<std::uint32_t>(0x0F + (i % 3 == 0 ? 0 : 0x100 * i)));
    seed("fuzz_deck_messages", "mixed",
         message(words({109, 16, 150, 115})) + message(words({80, 16, 1, 3})) + message(words({80, 16, 7, 1, 2, 3})) +
             message(words({80, 16, 12, 1, 2, 3, 4})) + message(words({80, 16, 8})) + message(words(tc)) +
             message(words({107, 18, 98})) + message(words({77, 15, 503})));

    namespace ring = tv::platform::ring;
    const std::uint32_t ppe = 2, stride = 920, entries = 2, bpe = 8 * ppe + ppe * stride;
    std::string r(ring::kHeaderRoom + entries * bpe, '\0');
    auto set = [&](std::size_t at, std::uint32_t v) { tv::store_le32(reinterpret_cast<std::uint8_t*>(&r[at]), v); };
    set(ring::kPacketsPerEntry, ppe);
    set(ring::kStride, stride);
    set(ring::kBytesPerEntry, bpe);
    set(ring::kEntries, entries);
    for (std::uint32_t e = 0; e < entries; ++e)
        for (std::uint32_t k = 0; k < ppe; ++k) {
            const std::size_t entry = ring::kHeaderRoom + e * bpe;
            set(entry + 8 * k + 4, 920);
            const std::size_t p = entry + 8 * ppe + k * stride;
            set(p + 2, (e * ppe + k) * 150);
            r[p + 6] = static_cast<char>(150);
            r[p + 7] = static_cast<char>(0xF0);
            r[p + 309] = static_cast<char>(0xF1);
            r[p + 611] = static_cast<char>(0xF2);
        }
    seed("fuzz_iso_packets", "ring", r);
}

void timi_seeds() {
    std::string day =
        "Quorril ST Output File, version: 2\r\nPatient ID: P1\r\nRecording ID: R1\r\n"
        "Recording Date: 01/03/2004 10:00:00\r\nRecording Duration: 0 hrs 2 mins\r\n"
        "Min HR (bpm): 60\r\nMax HR (bpm): 68\r\nMean HR (bpm): 64\r\n\r\n";
    for (int c = 1; c <= 3; ++c)
        day += "Channel " + std::to_string(c) + " Elevation: 1.00\r\nChannel " + std::to_string(c) +
               " Depression: -1.00\r\nChannel " + std::to_string(c) + " Slope: UP\r\n";
    day +=
        "\r\nDay\tTime\tHR\tBase1\tJ1\tAbs1\tSlope1\tCh1\tBase2\tJ2\tAbs2\tSlope2\tCh2\tBase3\tJ3\tAbs3\tSlope3\tCh3\r"
        "\n";
    for (int i = 0; i < 4; ++i) {
        const int s = i * 30;
        char time[16];
        std::snprintf(time, sizeof time, "10:%02d:%02d", s / 60, s % 60);
        day += "1\t" + std::string(time) +
               "\t64\t0.10\t0.50\t1.10\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t0.40\t0.10\t\r\n";
    }
    seed("fuzz_timi_day", "day", day);
    const std::string path = tv::fuzz::sub_folder("timiseed") + "day1.txt";
    tv::fuzz::put_file(path, day);
    tv::TIMITableSource t;
    if (t.read_day_file(path) == tv::kDayOk && t.data().row_count() > 0)
        seed("fuzz_timi_data", "data", t.data().data_file_text(0, t.data().row_count() - 1));
}

// Signed reports: a real envelope, the signed message inside it and the content inside that, one
// seed per reader of fuzz_signed_container (its first byte picks the reader).
void signed_seeds() {
    auto certificate = tv::demo::make_self_signed_certificate("Seed Signer", 1024);
    if (!certificate) return;
    tv::signing::SignatureRecord record;
    record.certificate = *certificate;
    record.signer_name = "Seed Signer";
    record.logon_name = "seed";
    record.system_name = "WARD7";
    record.signing_time = 45000.5;
    record.signing_time_status = tv::signing::kTimeValid;
    if (!tv::signing::fill_certificate_fields(record)) return;
    const std::string folder = tv::fuzz::sub_folder("signedseed");
    tv::fuzz::put_file(folder + "PAGE.0", "label");
    tv::fuzz::put_file(folder + "PATIENT.TXT", "PATIENT DETAILS\r\n--\r\nSmith, John\r\n");
    const std::vector<tv::signing::PackedFile> files{{"PAGE.0", folder + "PAGE.0"},
                                                     {"PATIENT.TXT", folder + "PATIENT.TXT"}};
    auto content = tv::signing::build_signed_content(record, files);
    if (!content) return;
    auto message = tv::signing::sign_message(record.certificate, *content);
    if (!message) return;
    seed("fuzz_signed_container", "envelope", std::string(1, '\0') + tv::signing::encrypt_envelope(*message));
    seed("fuzz_signed_container", "message", std::string(1, '\1') + *message);
    seed("fuzz_signed_container", "content", std::string(1, '\2') + *content);
}

// The readers of what the intake, the mail, the letters, the command line and the deck read.
void more_reader_seeds(const std::string& work) {
    seed("fuzz_repinfo", "repinfo", tv::format_repinfo_text("Holter of Jane Doe", 519, 1700000000, 123456));
    seed("fuzz_param_file", "params", "/hidden\r\n/uncompress \"in file.CEF\" out\r\n/paramfile nested.txt\r\n");
    seed("fuzz_drive_map", "card",
         std::string(1, 'E' - 'A') +
             "folder=/media/card\r\nlabel=OSTRABEL\r\nkind=removable\r\ncapacity=1048576000\r\n");
    seed("fuzz_emailcfg", "options",
         "// comment\nTitle\n@RADIOBUTTONS\nCap\nLead \n<NONE>\n99\n0\nA\nalpha\n1\nB\nbeta\\n\n@END\n"
         "\n@CHECKBOXES\nCap2\n<NONE>\nnone chosen\n0\n0\nC\ngamma\n@END\n");
    seed("fuzz_letter_template", "letter",
         "Dear <PatientName> \r\nHeart rate <3>[%5.1f] bpm.\r\n<3>[> 50]Fast.</3>[> 50]\r\n<6>[= \"Sinus rhythm\"]SR "
         "continued _\r\nhere.</6>[= \"Sinus rhythm\"]\r\n");
    tv::MonoImage image = tv::MonoImage::white(19, 7);
    for (int i = 0; i < 7; ++i) tv::testing::set_black(image, i * 2, i);
    seed("fuzz_page_bitmap", "mono", tv::encode_bmp(image));

    const std::string trace = work + "seed.trace";
    tv::platform::TraceWriter writer;
    tv::platform::DeckGeometry geometry;
    geometry.packets_per_entry = 2;
    geometry.entries = 4;
    if (writer.open(trace, geometry, 20)) {
        tv::platform::TraceRecord r;
        r.kind = tv::platform::TraceKind::message;
        r.bytes = {109, 0, 0, 0, 16, 0, 0, 0, 150, 0, 0, 0, 114, 0, 0, 0};
        writer.add(r);
        for (int i = 0; i < 4; ++i) {
            tv::platform::TraceRecord packet;
            packet.kind = tv::platform::TraceKind::packet;
            packet.desc_length = 912;
            packet.bytes.assign(912, static_cast<std::uint8_t>(i));
            writer.add(packet);
        }
        r = {};
        r.kind = tv::platform::TraceKind::overrun;
        r.value = 1;
        writer.add(r);
        r.kind = tv::platform::TraceKind::pause;
        writer.add(r);
        if (writer.close()) seed("fuzz_deck_trace", "trace", read_all(trace));
    }

    std::string tape(tv::kEcgCtrlBytes, '\0');
    tv::store_le32(reinterpret_cast<std::uint8_t*>(tape.data()), 300);  // samples written
    std::string data(tv::kTapeDataBytes, '\0');
    auto put = [&data](std::size_t at, std::uint32_t v) {
        tv::store_le32(reinterpret_cast<std::uint8_t*>(&data[at]), v);
    };
    put(0, 0x1034);
    put(4, 7680);
    std::memcpy(&data[8], "SN 4711", 7);
    std::memcpy(&data[48], "01/02/2003", 10);
    put(88, tv::kDeckFinished);
    put(100, 410);
    for (int c = 0; c < 3; ++c) put(104 + 4 * static_cast<std::size_t>(c), static_cast<std::uint32_t>(c + 1));
    std::string events(tv::kPatientEventBytes, '\0');
    for (int i = 0; i < 3; ++i)
        tv::store_le32(reinterpret_cast<std::uint8_t*>(&events[4 * static_cast<std::size_t>(i)]), 128u * 60 * (i + 1));
    std::string samples;
    for (int i = 0; i < 300; ++i) tv::append_le16(samples, static_cast<std::uint16_t>(2048 + (i % 40) * 3));
    seed("fuzz_tape_mappings", "tape", tape + data + events + samples);

    const std::string patsumm = "Doe Jane\r\nP123\r\n01/02/2003 10:20:31\r\nREC9\r\n1\r\n3\r\n24\r\n";
    std::string padded = patsumm;
    while (padded.size() % 4) padded += ' ';
    seed("fuzz_card_summary", "card", std::string(1, static_cast<char>(padded.size() / 4)) + padded + "MERI1234\r\n");

    const std::string staging = work + "twelve/";
    ::mkdir(staging.c_str(), 0700);
    if (tv::demo::write_demo_twelve_lead(staging, tv::demo::DemoPatientDetails{}))
        seed("fuzz_emf_list", "demo", read_all(staging + "emflist.dat"));

    std::mt19937 gen(9);
    std::vector<std::uint8_t> noise(100 * 1024);
    for (auto& b : noise) b = static_cast<std::uint8_t>(gen() % 64);
    seed("fuzz_szip", "noise100k", str(tv::szip::pack(noise)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
        return 1;
    }
    g_root = argv[1];
    ::mkdir(g_root.c_str(), 0755);
    const std::string& work = tv::fuzz::work_folder();
    index_seeds();
    report_text_seeds();
    registry_and_audit_seeds();
    page_seeds();
    pack_seeds(work);
    card_seeds();
    deck_seeds();
    timi_seeds();
    signed_seeds();
    more_reader_seeds(work);
    return 0;
}
