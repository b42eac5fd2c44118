#include "formats/transfer_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <functional>
#include <optional>
#include <thread>

#include "common/bytes.h"
#include "common/files.h"
#include "formats/implode.h"
#include "testing/hostile_entries.h"
#include "testing/test_root.h"
#include "platform/fs.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// clang-format off
const Bytes kGolden = {
    0x44, 0x48, 0x09, 0x02, 0x41, 0x2E, 0x54, 0x58, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78, 0x02, 0x6E, 0x87,
    0x00, 0x06, 0x82, 0x02, 0xFE, 0x01,
    0x44, 0x48, 0x09, 0x02, 0x45, 0x2E, 0x44, 0x41, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
// clang-format on

Bytes read_bytes(const fs::path& p) {
    Bytes b;
    tv::platform::read_whole_file(p.string(), b);
    return b;
}

void write_bytes(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void write_text(const fs::path& p, const std::string& s) { write_bytes(p, Bytes(s.begin(), s.end())); }

struct Entry {
    tv::PackedFileHeader header;
    Bytes stream;
};

// Walks a transfer file the way an outside reader would.
std::vector<Entry> parse(const Bytes& file) {
    std::vector<Entry> entries;
    std::size_t pos = 0;
    while (pos + tv::kPackedFileHeaderSize <= file.size()) {
        Entry e;
        e.header = tv::PackedFileHeader::from_bytes(file.data() + pos);
        pos += tv::kPackedFileHeaderSize;
        EXPECT_LE(pos + e.header.packed_size, file.size());
        e.stream.assign(file.begin() + static_cast<std::ptrdiff_t>(pos),
                        file.begin() + static_cast<std::ptrdiff_t>(
                                           std::min<std::size_t>(pos + e.header.packed_size, file.size())));
        pos += e.header.packed_size;
        entries.push_back(std::move(e));
    }
    EXPECT_EQ(pos, file.size());
    return entries;
}

std::uint32_t crc_of(const Bytes& b) { return tv::crc32(b.data(), b.size()); }

// One entry with any stream, for hand-made transfer files.
Bytes make_entry(const std::string& name_field, const Bytes& stream, std::uint32_t original) {
    tv::PackedFileHeader h;
    std::fill(h.name.begin(), h.name.end(), '\0');
    std::copy_n(name_field.begin(), std::min(name_field.size(), h.name.size()), h.name.begin());
    h.packed_size = static_cast<std::uint32_t>(stream.size());
    h.original_size = original;
    h.crc = stream.empty() ? 0 : crc_of(stream);
    // Sized once and filled: growing the header's copy by insert draws gcc 12's -O3 array-bounds
    // false positive.
    const auto hb = h.to_bytes();
    Bytes out(hb.size() + stream.size());
    std::copy(hb.begin(), hb.end(), out.begin());
    std::copy(stream.begin(), stream.end(), out.begin() + static_cast<std::ptrdiff_t>(hb.size()));
    return out;
}

// Independent of the engine: every byte a literal.
Bytes literal_stream(const std::string& text) {
    Bytes out{0x00, 0x06};
    std::uint32_t acc = 0;
    unsigned n = 0;
    auto bits = [&](unsigned v, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            acc |= ((v >> i) & 1u) << n;
            if (++n == 8) {
                out.push_back(static_cast<std::uint8_t>(acc));
                acc = 0;
                n = 0;
            }
        }
    };
    for (unsigned char c : text) bits(static_cast<unsigned>(c) << 1, 9);
    bits(1, 1);
    bits(0, 7);
    bits(0xFF, 8);
    if (n) out.push_back(static_cast<std::uint8_t>(acc));
    return out;
}

Bytes mixed_bytes(std::size_t n) {
    std::mt19937 rng(42);
    Bytes b;
    while (b.size() < n) {
        if (rng() % 2) {
            for (int i = 0; i < 300; ++i) b.push_back(static_cast<std::uint8_t>("REPEATED BLOCK "[i % 15]));
        } else {
            for (int i = 0; i < 300; ++i) b.push_back(static_cast<std::uint8_t>(rng()));
        }
    }
    b.resize(n);
    return b;
}

class TransferFile : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"src", "out"}) fs::create_directories(root_ / sub);
    }
    fs::path src() const { return root_ / "src"; }
    fs::path out() const { return root_ / "out"; }
    fs::path tvz() const { return root_ / "R.TVZ"; }
    std::vector<std::string> all_of(const fs::path& folder) const { return {(folder / "*.*").string()}; }
    bool temp_is_empty() const { return fs::is_empty(root_ / "tmp"); }
    std::map<std::string, Bytes> folder_content(const fs::path& folder) const {
        std::map<std::string, Bytes> m;
        for (auto& e : fs::directory_iterator(folder)) m[e.path().filename().string()] = read_bytes(e.path());
        return m;
    }

    tv::platform::testing::TempRoot temp_;
    const fs::path root_ = temp_.path();
};

TEST_F(TransferFile, GoldenBytesPackAndUnpack) {
    write_text(src() / "A.TXT", "A");
    write_text(src() / "E.DAT", "");
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    EXPECT_EQ(read_bytes(tvz()), kGolden);

    write_bytes(root_ / "G.TVZ", kGolden);
    ASSERT_EQ(tv::unpack_transfer_file((root_ / "G.TVZ").string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(folder_content(out()), (std::map<std::string, Bytes>{{"A.TXT", {'A'}}, {"E.DAT", {}}}));
}

TEST_F(TransferFile, HeaderNameIsBoundedAndUpperCased) {
    tv::PackedFileHeader h;
    h.set_name("ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(h.stored_name(), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(h.name[15], '\0');
    Bytes raw(32, 'X');  // a name field without NUL
    EXPECT_EQ(tv::PackedFileHeader::from_bytes(raw.data()).stored_name(), std::string(16, 'X'));
    EXPECT_EQ(tv::packed_name_for("/a/b/report.txt"), "REPORT.TXT");
    EXPECT_EQ(tv::packed_name_for("C:\\x\\Gavrille_Logo.bmp"), "GVLOGO.BMP");
}

TEST_F(TransferFile, ReportFolderRoundTrip) {
    const Bytes big = mixed_bytes(150 * 1024);
    write_bytes(src() / "DATA.BIN", big);
    write_text(src() / "EMPTY.DAT", "");
    write_text(src() / "GAVRILLE_LOGO.BMP", "BMlogo");
    write_text(src() / "Smith John 2007-12-03.doc", "letter");
    write_text(src() / "WIN386.SWP", "swap");
    write_text(src() / "win386.swp", "other case");
    write_text(src() / ".hidden", "secret");
    fs::create_directories(src() / "SUB");
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    EXPECT_TRUE(temp_is_empty());

    const auto entries = parse(read_bytes(tvz()));
    std::vector<std::string> names;
    for (const auto& e : entries) {
        EXPECT_TRUE(std::equal(e.header.magic.begin(), e.header.magic.end(), tv::kPackedFileMagic.begin()));
        const std::string n = e.header.stored_name();
        names.push_back(n);
        EXPECT_LE(n.size(), 12u);
        EXPECT_EQ(n, tv::packed_name_for(n));
        EXPECT_TRUE(std::all_of(e.header.name.begin() + static_cast<std::ptrdiff_t>(n.size()), e.header.name.end(),
                                [](char c) { return c == '\0'; }));
        if (e.header.packed_size == 0) {
            EXPECT_EQ(e.header.crc, 0u);
            EXPECT_EQ(e.header.original_size, 0u);
        } else {
            EXPECT_EQ(e.stream[0], 0);
            EXPECT_EQ(e.stream[1], 6);
            EXPECT_EQ(e.header.crc, crc_of(e.stream));
        }
    }
    // Sorted per pattern; the long-name list comes last; the swap file only in its other case.
    EXPECT_EQ(names, (std::vector<std::string>{"DATA.BIN", "EMPTY.DAT", "GVLOGO.BMP", "FILE0000.DAT", "WIN386.SWP",
                                               "LONGNAME.TXT"}));
    EXPECT_EQ(entries[1].header.packed_size, 0u);
    EXPECT_EQ(entries[0].header.original_size, big.size());

    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(folder_content(out()), (std::map<std::string, Bytes>{
                                         {"DATA.BIN", big},
                                         {"EMPTY.DAT", {}},
                                         {"GAVRILLE_LOGO.BMP", {'B', 'M', 'l', 'o', 'g', 'o'}},
                                         {"Smith John 2007-12-03.doc", {'l', 'e', 't', 't', 'e', 'r'}},
                                         {"WIN386.SWP", {'o', 't', 'h', 'e', 'r', ' ', 'c', 'a', 's', 'e'}},
                                     }));
}

TEST_F(TransferFile, LongNameListIsWrittenAsWindowsPeersWriteIt) {
    write_text(src() / "A Very Long Name.txt", "one");
    write_text(src() / "Another Long Name.dat", "two");
    // A long-named file given by its own path travels once, as a short copy.
    ASSERT_EQ(tv::pack_transfer_file({(src() / "A Very Long Name.txt").string(), (src() / "*.*").string()},
                                     tvz().string()),
              0);
    EXPECT_TRUE(temp_is_empty());
    auto entries = parse(read_bytes(tvz()));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].header.stored_name(), "FILE0000.DAT");
    EXPECT_EQ(entries[1].header.stored_name(), "FILE0001.DAT");
    EXPECT_EQ(entries[2].header.stored_name(), "LONGNAME.TXT");

    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(folder_content(out()).size(), 2u);
    EXPECT_EQ(read_bytes(out() / "A Very Long Name.txt"), (Bytes{'o', 'n', 'e'}));
    EXPECT_EQ(read_bytes(out() / "Another Long Name.dat"), (Bytes{'t', 'w', 'o'}));

    // The list itself: backslash paths, CR LF, the short copy's name in the second line.
    Bytes raw(entries[2].stream);
    fs::create_directories(root_ / "l");
    write_bytes(root_ / "l.tvz", make_entry("X.TXT", raw, 0));
    ASSERT_EQ(tv::unpack_transfer_file((root_ / "l.tvz").string(), (root_ / "l").string()), tv::kUnpackOk);
    const Bytes text = read_bytes(root_ / "l" / "X.TXT");
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("\\A Very Long Name.txt\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("\\file0000.dat\r\n"), std::string::npos) << s;
    EXPECT_EQ(s.find('/'), std::string::npos) << s;
}

// Member names are Windows-1252 in the file, as its peers read them, and the disk's UTF-8 here:
// a reader of its own (python3, decoding the headers as Windows-1252) names the members right, the
// long-name list is Windows-1252 too, and a name Windows-1252 cannot spell is refused.
TEST_F(TransferFile, NamesCrossInWindows1252) {
    write_text(src() / "ZO\xC3\x8B.DOC", "a");                                     // ZOË.DOC
    write_text(src() / "M\xC3\xBCller, Zo\xC3\xAB \xE2\x80\x93 letter.doc", "b");  // Müller, Zoë – letter.doc
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    const auto entries = parse(read_bytes(tvz()));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].header.stored_name(), "ZO\xCB.DOC");
    const std::string reader =
        "import sys\nb = open(sys.argv[1], 'rb').read()\ni = 0\nwhile i < len(b):\n"
        "    name = b[i + 4:i + 20].split(b'\\0')[0]\n    size = int.from_bytes(b[i + 20:i + 24], 'little')\n"
        "    sys.stdout.buffer.write(name.decode('cp1252').encode('utf-8') + b'\\n')\n    i += 32 + size\n";
    write_text(root_ / "reader.py", reader);
    const std::string command = "python3 '" + (root_ / "reader.py").string() + "' '" + tvz().string() + "'";
    std::string names;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) names += buf;
        EXPECT_EQ(::pclose(p), 0);
    }
    EXPECT_EQ(names, "FILE0000.DAT\nZO\xC3\x8B.DOC\nLONGNAME.TXT\n");
    // The list, taken out as a plain member.
    fs::create_directories(root_ / "l");
    write_bytes(root_ / "l.tvz", make_entry("X.TXT", entries[2].stream, 0));
    ASSERT_EQ(tv::unpack_transfer_file((root_ / "l.tvz").string(), (root_ / "l").string()), tv::kUnpackOk);
    const Bytes list = read_bytes(root_ / "l" / "X.TXT");
    EXPECT_NE(std::string(list.begin(), list.end()).find("\\M\xFCller, Zo\xEB \x96 letter.doc\r\n"), std::string::npos);
    // Back on this disk in UTF-8.
    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(folder_content(out()), folder_content(src()));

    // Written by a Windows peer, or by an earlier version of this program in UTF-8: both stored
    // under the UTF-8 name.
    for (const char* stored : {"ZO\xCB.DOC", "ZO\xC3\x8B.DOC"}) {
        fs::remove_all(root_ / "w");
        fs::create_directories(root_ / "w");
        write_bytes(root_ / "w.tvz", make_entry(stored, {}, 0));
        ASSERT_EQ(tv::unpack_transfer_file((root_ / "w.tvz").string(), (root_ / "w").string()), tv::kUnpackOk);
        EXPECT_TRUE(fs::exists(root_ / "w" / "ZO\xC3\x8B.DOC")) << stored;
    }

    // No Windows-1252 form: refused with the name, nothing written.
    for (const char* name : {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.doc", "ZO\xCB.DOC"}) {
        fs::remove_all(src());
        fs::create_directories(src());
        write_text(src() / name, "c");
        fs::remove(tvz());
        std::string refusal;
        EXPECT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string(), &refusal), 1);
        EXPECT_NE(refusal.find("Windows-1252"), std::string::npos) << refusal;
        EXPECT_FALSE(fs::exists(tvz()));
    }
}

TEST_F(TransferFile, HandMadeFileWithOutsideStreams) {
    Bytes file = kGolden;
    for (const Bytes& e :
         {make_entry("REPINFO.TXT", literal_stream("Golden\r\n519\r\n1196690709\r\n1234\r\n"), 31),
          make_entry("AB.BIN", {0x00, 0x06, 0x82, 0x08, 0xED, 0x05, 0xFC, 0x03}, 4),
          make_entry("FILE0000.DAT", literal_stream("attached"), 8),
          make_entry("LONGNAME.TXT", literal_stream("C:\\R\\REPORT_ATTACHMENT_LONG.DAT\r\nC:\\TEMP\\file0000.dat\r\n"),
                     0)})
        file.insert(file.end(), e.begin(), e.end());
    write_bytes(tvz(), file);
    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    const auto content = folder_content(out());
    EXPECT_EQ(content.size(), 5u);
    EXPECT_EQ(content.at("AB.BIN"), (Bytes{'A', 'B', 'A', 'B'}));
    EXPECT_EQ(content.at("REPORT_ATTACHMENT_LONG.DAT"), (Bytes{'a', 't', 't', 'a', 'c', 'h', 'e', 'd'}));
    EXPECT_EQ(content.at("REPINFO.TXT").size(), 31u);
    EXPECT_EQ(content.count("LONGNAME.TXT"), 0u);
}

TEST_F(TransferFile, CorruptionAndTruncation) {
    write_bytes(src() / "DATA.BIN", mixed_bytes(20000));
    write_text(src() / "B.TXT", "second entry");
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    const Bytes good = read_bytes(tvz());
    const auto entries = parse(good);
    ASSERT_EQ(entries.size(), 2u);
    const std::size_t first_end = 32 + entries[0].header.packed_size;

    auto unpack_of = [&](const Bytes& bytes) {
        fs::remove_all(out());
        fs::create_directories(out());
        write_bytes(root_ / "bad.tvz", bytes);
        return tv::unpack_transfer_file((root_ / "bad.tvz").string(), out().string());
    };
    for (std::size_t at : {32u + 2u, 32u + 100u, 32u + 5000u, static_cast<unsigned>(good.size() - 1)}) {
        Bytes flipped = good;
        flipped[at] ^= 0x10;
        EXPECT_EQ(unpack_of(flipped), tv::kUnpackBadData) << at;
    }
    for (std::size_t cut :
         {32u + 3u, 32u + 1000u, static_cast<unsigned>(first_end - 1), static_cast<unsigned>(first_end + 1),
          static_cast<unsigned>(first_end + 31), static_cast<unsigned>(good.size() - 1), 10u})
        EXPECT_EQ(unpack_of(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))), tv::kUnpackBadData)
            << cut;
    // A cut on an entry boundary cannot be told from a shorter file.
    EXPECT_EQ(unpack_of(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(first_end))), tv::kUnpackOk);
    EXPECT_EQ(unpack_of({}), tv::kUnpackOk);
    EXPECT_EQ(unpack_of(good), tv::kUnpackOk);
}

TEST_F(TransferFile, TrailingStreamBytesKeepTheNextHeaderAligned) {
    Bytes stream{0x00, 0x06, 0x82, 0x02, 0xFE, 0x01, 0xAA, 0xBB, 0xCC};
    Bytes file = make_entry("A.TXT", stream, 1);
    const Bytes second = make_entry("B.TXT", literal_stream("bee"), 3);
    file.insert(file.end(), second.begin(), second.end());
    write_bytes(tvz(), file);
    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(read_bytes(out() / "A.TXT"), (Bytes{'A'}));
    EXPECT_EQ(read_bytes(out() / "B.TXT"), (Bytes{'b', 'e', 'e'}));
}

TEST_F(TransferFile, LinksSpecialFilesAndCaseTwinsRefuseThePackBeforeItBegins) {
    for (const auto& entry : tv::testing::hostile_entries()) {
        const fs::path folder = root_ / entry.what;
        fs::create_directories(folder);
        write_text(folder / "A.TXT", "A");
        entry.plant(folder, root_ / "secrets");
        write_text(tvz(), "earlier file");
        std::string refusal;
        EXPECT_NE(tv::pack_transfer_file({(folder / "*.*").string()}, tvz().string(), &refusal), 0) << entry.what;
        EXPECT_NE(refusal.find(std::string("\"") + entry.name + "\""), std::string::npos) << refusal;
        EXPECT_EQ(read_bytes(tvz()), (Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
        EXPECT_TRUE(temp_is_empty());
    }
}

TEST_F(TransferFile, TwoFilesUnderOneStoredNameRefuseThePackBeforeItBegins) {
    const fs::path folder = root_ / "logos", other = root_ / "other";
    fs::create_directories(folder);
    fs::create_directories(other);
    write_text(folder / "GAVRILLE_LOGO.BMP", "long");
    write_text(folder / "GVLOGO.BMP", "short");
    write_text(other / "a.txt", "a");
    write_text(folder / "A.TXT", "A");
    for (const std::vector<std::string>& list :
         {std::vector<std::string>{(folder / "*.*").string()},
          std::vector<std::string>{(other / "a.txt").string(), (folder / "A.TXT").string()}}) {
        write_text(tvz(), "earlier file");
        std::string refusal;
        EXPECT_NE(tv::pack_transfer_file(list, tvz().string(), &refusal), 0) << list.front();
        EXPECT_NE(refusal.find("packed under one name"), std::string::npos) << refusal;
        EXPECT_EQ(read_bytes(tvz()), (Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
        EXPECT_TRUE(temp_is_empty());
    }
}

TEST_F(TransferFile, ANameGivenTwiceInAnyCaseIsBadData) {
    for (const char* twin : {"A.TXT", "a.txt"}) {
        fs::remove_all(out());
        fs::create_directories(out());
        Bytes file = make_entry("A.TXT", literal_stream("first"), 5);
        const Bytes second = make_entry(twin, literal_stream("other"), 5);
        file.insert(file.end(), second.begin(), second.end());
        write_bytes(tvz(), file);
        EXPECT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackBadData) << twin;
        EXPECT_EQ(read_bytes(out() / "A.TXT"), (Bytes{'f', 'i', 'r', 's', 't'}));
    }
}

TEST_F(TransferFile, HostileNamesNeverLeaveTheFolder) {
    for (const std::string name : {"../EVIL", "..\\EVIL", "C:EVIL", ".", "..", "", "\x01\x02", "/EVIL"}) {
        fs::remove_all(out());
        fs::create_directories(out());
        Bytes file = make_entry("OK.TXT", literal_stream("ok"), 2);
        const Bytes bad = make_entry(name, literal_stream("evil"), 4);
        file.insert(file.end(), bad.begin(), bad.end());
        write_bytes(tvz(), file);
        EXPECT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackBadData) << name;
        EXPECT_TRUE(fs::exists(out() / "OK.TXT"));
        EXPECT_FALSE(fs::exists(root_ / "EVIL"));
        EXPECT_FALSE(fs::exists("/EVIL"));
        EXPECT_EQ(folder_content(out()).size(), 1u) << name;
    }
    // Control characters are dropped from names; a full field without NUL stays within it.
    fs::remove_all(out());
    fs::create_directories(out());
    Bytes file = make_entry(
        "A\x01"
        "B.TXT",
        literal_stream("x"), 1);
    const Bytes full = make_entry(std::string(16, 'N') + "TAIL", literal_stream("y"), 1);
    file.insert(file.end(), full.begin(), full.end());
    write_bytes(tvz(), file);
    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_TRUE(fs::exists(out() / "AB.TXT"));
    EXPECT_TRUE(fs::exists(out() / std::string(16, 'N')));
}

TEST_F(TransferFile, LongNameRestoreIsConfined) {
    write_text(out() / "KEEP.DAT", "existing");
    Bytes file;
    for (const Bytes& e :
         {make_entry("FILE0000.DAT", literal_stream("zero"), 4), make_entry("FILE0001.DAT", literal_stream("one"), 3),
          make_entry("FILE0002.DAT", literal_stream("two"), 3),
          make_entry("LONGNAME.TXT",
                     literal_stream("x/../..\r\nT\\file0000.dat\r\n"
                                    "C:\\KEEP.DAT\r\nT\\file0001.dat\r\n"
                                    "C:\\a\\Long Good Name.dat\nT\\FILE0002.DAT\n"
                                    "C:\\only a first line"),
                     0)})
        file.insert(file.end(), e.begin(), e.end());
    write_bytes(tvz(), file);
    ASSERT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackOk);
    EXPECT_EQ(read_bytes(out() / "KEEP.DAT"), (Bytes{'e', 'x', 'i', 's', 't', 'i', 'n', 'g'}));
    EXPECT_TRUE(fs::exists(out() / "FILE0000.DAT"));
    EXPECT_TRUE(fs::exists(out() / "FILE0001.DAT"));
    EXPECT_EQ(read_bytes(out() / "Long Good Name.dat"), (Bytes{'t', 'w', 'o'}));
    EXPECT_FALSE(fs::exists(out() / "LONGNAME.TXT"));
}

TEST_F(TransferFile, OpenAndCreateFailures) {
    write_bytes(tvz(), kGolden);
    EXPECT_EQ(tv::unpack_transfer_file((root_ / "missing.tvz").string(), out().string()), tv::kUnpackCannotOpen);
    EXPECT_EQ(tv::unpack_transfer_file(tvz().string(), (root_ / "no-such-folder").string()), tv::kUnpackCannotCreate);
    fs::create_directories(out() / "A.TXT");  // a folder where the file should go
    EXPECT_EQ(tv::unpack_transfer_file(tvz().string(), out().string()), tv::kUnpackCannotCreate);
    write_text(src() / "A.TXT", "A");
    EXPECT_NE(tv::pack_transfer_file(all_of(src()), (root_ / "no-such-folder" / "X.TVZ").string()), 0);
}

// A file-size limit makes writes come up short, as a full disk would.
int run_with_size_limit(rlim_t limit, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TransferFile, ShortWritesAreFailures) {
    write_bytes(src() / "DATA.BIN", mixed_bytes(100000));
    EXPECT_NE(run_with_size_limit(4096, [&] { return tv::pack_transfer_file(all_of(src()), tvz().string()); }), 0);
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    write_text(src() / "Z.TXT", "after");
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    EXPECT_EQ(run_with_size_limit(4096, [&] { return tv::unpack_transfer_file(tvz().string(), out().string()); }),
              tv::kUnpackCannotCreate);
    // Unpacking stopped at the failing entry.
    EXPECT_FALSE(fs::exists(out() / "Z.TXT"));
}

TEST_F(TransferFile, ParallelPacksKeepTheirWorkFilesApart) {
    for (const char* dir : {"s1", "s2"}) {
        fs::create_directories(root_ / dir);
        write_text(root_ / dir / "Long Letter Name.doc", std::string("letter of ") + dir);
        write_bytes(root_ / dir / "DATA.BIN", mixed_bytes(50000));
    }
    int r1 = -1, r2 = -1;
    std::thread t1([&] { r1 = tv::pack_transfer_file(all_of(root_ / "s1"), (root_ / "1.tvz").string()); });
    std::thread t2([&] { r2 = tv::pack_transfer_file(all_of(root_ / "s2"), (root_ / "2.tvz").string()); });
    t1.join();
    t2.join();
    ASSERT_EQ(r1, 0);
    ASSERT_EQ(r2, 0);
    for (const char* dir : {"s1", "s2"}) {
        const fs::path target = root_ / (std::string(dir) + ".out");
        fs::create_directories(target);
        ASSERT_EQ(tv::unpack_transfer_file((root_ / (dir[1] == '1' ? "1.tvz" : "2.tvz")).string(), target.string()), 0);
        EXPECT_EQ(folder_content(target), folder_content(root_ / dir));
    }
    EXPECT_TRUE(temp_is_empty());
}

TEST_F(TransferFile, RepInfoText) {
    EXPECT_EQ(tv::format_repinfo_text("Golden", 519, 1196690709, 1234), "Golden\r\n519\r\n1196690709\r\n1234\r\n");
    EXPECT_EQ(tv::format_repinfo_text("two\r\nlines", 510, 1, 0), "two  lines\r\n510\r\n1\r\n0\r\n");
}

// Each member decoded by an outside decoder gives back the source bytes.
TEST_F(TransferFile, OutsideDecoderRestoresEveryMember) {
    if (std::system("command -v dynamite >/dev/null 2>&1") != 0) GTEST_SKIP() << "dynamite is not installed";
    write_bytes(src() / "DATA.BIN", mixed_bytes(150 * 1024));
    write_text(src() / "NOTE.TXT", "A short note, a short note, a short note.");
    ASSERT_EQ(tv::pack_transfer_file(all_of(src()), tvz().string()), 0);
    for (const auto& e : parse(read_bytes(tvz()))) {
        write_bytes(root_ / "in.bin", e.stream);
        const std::string cmd =
            "dynamite '" + (root_ / "in.bin").string() + "' '" + (root_ / "o.bin").string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(read_bytes(root_ / "o.bin"), read_bytes(src() / e.header.stored_name()));
    }
}

}  // namespace
