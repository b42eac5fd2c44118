#include "platform/registry.h"

#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;
constexpr RegRoot LM = RegRoot::LocalMachine;
constexpr RegRoot CU = RegRoot::CurrentUser;
constexpr RegRoot CR = RegRoot::ClassesRoot;

RegValue binary(std::string bytes) { return {RegType::Binary, {}, 0, std::move(bytes)}; }

// The same behaviour from the file hives and the in-memory fake.
class RegistryKinds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        reg_ = GetParam() ? make_file_registry(machine_registry_dir(), user_registry_dir()) : make_memory_registry();
    }
    TempRoot root_;
    std::unique_ptr<Registry> reg_;
};

TEST_P(RegistryKinds, RoundTripOfEveryKind) {
    Registry& r = *reg_;
    const std::string key = "Software\\Torvane Medical\\Quorril";
    const std::string nasty = "quote \" back \\ tab \t cr \r lf \n nul " + std::string(1, '\0') + " high \x80\xE9\xFF";
    ASSERT_TRUE(r.set(LM, key, "UserRoot", RegValue::string("/var/lib/torvane/ANALYSER")));
    ASSERT_TRUE(r.set(LM, key, "Nasty", RegValue::string(nasty)));
    ASSERT_TRUE(r.set(LM, key, "Path", RegValue::expand_string("%ProgramFiles%\\x")));
    ASSERT_TRUE(r.set(LM, key, "Count", RegValue::from_dword(0xFFFFFFFF)));
    ASSERT_TRUE(r.set(LM, key, "Blob", binary(std::string("\x00\x01\x80\xff", 4))));
    ASSERT_TRUE(r.set(LM, key, "Empty", binary("")));
    ASSERT_TRUE(r.set(LM, key, "Long", RegValue::string(std::string(5000, 'L'))));
    ASSERT_TRUE(r.set(LM, key, "\"odd\\name\"\xE9", RegValue::from_dword(1)));

    EXPECT_EQ(r.get(LM, key, "UserRoot"), RegValue::string("/var/lib/torvane/ANALYSER"));
    EXPECT_EQ(r.get(LM, key, "Nasty"), RegValue::string(nasty));
    EXPECT_EQ(r.get(LM, key, "Path"), RegValue::expand_string("%ProgramFiles%\\x"));
    EXPECT_EQ(r.get(LM, key, "Count"), RegValue::from_dword(0xFFFFFFFF));
    EXPECT_EQ(r.get(LM, key, "Blob"), binary(std::string("\x00\x01\x80\xff", 4)));
    EXPECT_EQ(r.get(LM, key, "Empty"), binary(""));
    EXPECT_EQ(r.get(LM, key, "Long")->text.size(), 5000u);
    EXPECT_EQ(r.get(LM, key, "\"ODD\\NAME\"\xE9"), RegValue::from_dword(1));
    // Overwriting changes the type as well.
    ASSERT_TRUE(r.set(LM, key, "Count", RegValue::string("7")));
    EXPECT_EQ(r.get(LM, key, "Count"), RegValue::string("7"));

    // The three roots are separate.
    EXPECT_EQ(r.get(CU, key, "UserRoot"), std::nullopt);
    EXPECT_EQ(r.get(CR, key, "UserRoot"), std::nullopt);
    EXPECT_EQ(r.get(LM, key, "Missing"), std::nullopt);
    EXPECT_EQ(r.get(LM, "Software\\Nowhere", "UserRoot"), std::nullopt);
}

TEST_P(RegistryKinds, KeysAndNamesIgnoreCaseAndKeepTheFirstSpelling) {
    Registry& r = *reg_;
    ASSERT_TRUE(r.set(CU, "Software\\X", "Name", RegValue::from_dword(1)));
    ASSERT_TRUE(r.set(CU, "SOFTWARE\\x\\", "NAME", RegValue::from_dword(2)));
    ASSERT_TRUE(r.set(CU, "\\software\\x\\Sub", "Other", RegValue::from_dword(3)));
    EXPECT_EQ(r.get(CU, "software\\X", "name"), RegValue::from_dword(2));
    EXPECT_EQ(r.value_names(CU, "Software\\X"), std::vector<std::string>{"Name"});
    EXPECT_EQ(r.sub_keys(CU, "SOFTWARE"), std::vector<std::string>{"X"});
    EXPECT_EQ(r.sub_keys(CU, "Software\\X"), std::vector<std::string>{"Sub"});
    EXPECT_EQ(r.sub_keys(CU, ""), std::vector<std::string>{"Software"});
    EXPECT_TRUE(r.key_exists(CU, "SOFTWARE\\X\\SUB"));
    EXPECT_FALSE(r.key_exists(CU, "Software\\Y"));
    // Bytes >= 0x80 are not folded.
    ASSERT_TRUE(r.set(CU, "K\xC9", "v", RegValue::from_dword(1)));
    EXPECT_FALSE(r.key_exists(CU, "K\xE9"));
    EXPECT_TRUE(r.key_exists(CU, "k\xC9"));
}

TEST_P(RegistryKinds, DefaultValueAndKeyManagement) {
    Registry& r = *reg_;
    ASSERT_TRUE(r.set(CR, "TvReport", "", RegValue::string("Report")));
    ASSERT_TRUE(r.set(CR, "TvReport\\DefaultIcon", "", RegValue::string("/opt/tv/tolbex,0")));
    ASSERT_TRUE(r.set(CR, "TvReport\\shell\\open\\command", "", RegValue::string("/opt/tv/tolbex /s \"%1\"")));
    ASSERT_TRUE(r.set(CR, "TvReport", "Extra", RegValue::from_dword(5)));
    EXPECT_EQ(r.get(CR, "TvReport", ""), RegValue::string("Report"));
    EXPECT_EQ(r.value_names(CR, "TvReport"), (std::vector<std::string>{"", "Extra"}));
    EXPECT_EQ(r.sub_keys(CR, "TvReport"), (std::vector<std::string>{"DefaultIcon", "shell"}));

    EXPECT_TRUE(r.create_key(CR, ".tvr"));
    EXPECT_TRUE(r.key_exists(CR, ".TVR"));
    EXPECT_EQ(r.get(CR, ".tvr", ""), std::nullopt);

    EXPECT_TRUE(r.delete_value(CR, "TVREPORT", "extra"));
    EXPECT_FALSE(r.delete_value(CR, "TvReport", "Extra"));
    EXPECT_FALSE(r.delete_value(CR, "Nowhere", "Extra"));

    EXPECT_TRUE(r.delete_key(CR, "tvreport"));
    EXPECT_FALSE(r.key_exists(CR, "TvReport\\shell\\open"));
    EXPECT_FALSE(r.key_exists(CR, "TvReport"));
    EXPECT_TRUE(r.key_exists(CR, ".tvr"));
    EXPECT_FALSE(r.delete_key(CR, "TvReport"));
    EXPECT_FALSE(r.delete_key(CR, ""));
    EXPECT_TRUE(r.key_exists(CR, ""));
}

TEST_P(RegistryKinds, KeysThatCannotBeStoredAreRefused) {
    Registry& r = *reg_;
    EXPECT_FALSE(r.set(LM, "A\\\\B", "x", RegValue::from_dword(1)));
    EXPECT_FALSE(r.set(LM, "A\r\n[B]", "x", RegValue::from_dword(1)));
    EXPECT_FALSE(r.create_key(LM, std::string("A\0B", 3)));
    EXPECT_TRUE(r.sub_keys(LM, "").empty());
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryKinds, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Files" : "Memory"; });

TEST(RegistryHive, GoldenText) {
    TempRoot root;
    auto r = make_file_registry(root / "m", root / "u");
    const std::string key = "Software\\Torvane Medical\\Quorril";
    ASSERT_TRUE(r->set(LM, key, "", RegValue::string("default value")));
    ASSERT_TRUE(r->set(LM, key, "UserRoot", RegValue::string("C:\\ANALYSER \"x\" \xE9\n")));
    ASSERT_TRUE(r->set(LM, key, "Path", RegValue::expand_string("%ProgramFiles%\\x")));
    ASSERT_TRUE(r->set(LM, key, "Count", RegValue::from_dword(7)));
    ASSERT_TRUE(r->set(LM, "SOFTWARE\\Torvane Medical\\Log", "Blob", binary("\x01\x02\xff")));
    ASSERT_TRUE(r->set(LM, "Software\\torvane medical\\Quorril\\Sub", "Zero", RegValue::from_dword(0)));
    ASSERT_TRUE(r->set(CU, "Software\\Torvane Medical\\- Calvera -", "Location", RegValue::string("/opt/tv")));
    const std::string expect =
        "TORVANE REGISTRY 1\r\n"
        "\r\n[Software]\r\n"
        "\r\n[Software\\Torvane Medical]\r\n"
        "\r\n[Software\\Torvane Medical\\Quorril]\r\n"
        "@=\"default value\"\r\n"
        "\"UserRoot\"=\"C:\\\\ANALYSER \\\"x\\\" \xE9\\x0a\"\r\n"
        "\"Path\"=expand:\"%ProgramFiles%\\\\x\"\r\n"
        "\"Count\"=dword:00000007\r\n"
        "\r\n[Software\\Torvane Medical\\Quorril\\Sub]\r\n"
        "\"Zero\"=dword:00000000\r\n"
        "\r\n[Software\\Torvane Medical\\Log]\r\n"
        "\"Blob\"=hex:01,02,ff\r\n";
    EXPECT_EQ(read_whole_file(root / "m/HKLM.reg"), expect);
    EXPECT_TRUE(std::filesystem::exists(root / "u/HKCU.reg"));
    EXPECT_FALSE(std::filesystem::exists(root / "m/HKCR.reg"));

    std::vector<HiveKey> keys;
    ASSERT_TRUE(parse_hive(expect, keys));
    EXPECT_EQ(format_hive(keys), expect);
}

TEST(RegistryHive, HandWrittenHivesWithLineFeedsAreRead) {
    TempRoot root;
    std::filesystem::create_directories(root / "registry");
    ASSERT_TRUE(atomic_write_file(root / "registry/HKLM.reg",
                                  "TORVANE REGISTRY 1\n\n"
                                  "[SOFTWARE\\Torvane Medical\\Language\\Calvera]\n"
                                  "  \"PrimaryLanguage\"=dword:00000009  \n"
                                  "[software\\torvane medical\\language\\calvera]\n"
                                  "\"SubLanguage\"=dword:FFFFFFFF\n"
                                  "[Software\\Torvane Medical\\Quorril]\n"
                                  "\"SystemRoot\"=\"C:\\ANALYSER\\x41\\x4\"\n"));
    Registry& r = registry();  // the process-wide one follows TORVANE_ROOT
    EXPECT_EQ(r.get(LM, "Software\\Torvane Medical\\Language\\Calvera", "PrimaryLanguage"), RegValue::from_dword(9));
    EXPECT_EQ(r.get(LM, "Software\\Torvane Medical\\Language\\Calvera", "SubLanguage"),
              RegValue::from_dword(0xFFFFFFFF));
    EXPECT_EQ(r.sub_keys(LM, "Software\\Torvane Medical\\Language"), std::vector<std::string>{"Calvera"});
    // Lone backslashes in hand-written text are kept.
    EXPECT_EQ(r.get(LM, "Software\\Torvane Medical\\Quorril", "SystemRoot"), RegValue::string("C:\\ANALYSERA\\x4"));
    ASSERT_TRUE(r.set(CU, "Software\\Torvane Medical\\Quorril", "UserRoot", RegValue::from_dword(1)));
    EXPECT_TRUE(std::filesystem::exists(root / "user/registry/HKCU.reg"));

    auto fake = make_memory_registry();
    set_registry(fake.get());
    EXPECT_EQ(&registry(), fake.get());
    EXPECT_EQ(registry().get(CU, "Software\\Torvane Medical\\Quorril", "UserRoot"), std::nullopt);
    set_registry(nullptr);
    EXPECT_EQ(registry().get(CU, "Software\\Torvane Medical\\Quorril", "UserRoot"), RegValue::from_dword(1));
}

TEST(RegistryHive, HostileTextIsRefusedAndNeverOverwritten) {
    const char* bad[] = {
        "TORVANE REGISTRY 2\r\n",
        "[Key]\r\n\"a\"=dword:00000001\r\n",                        // no header line
        "TORVANE REGISTRY 1\r\n\"a\"=dword:00000001\r\n",           // value outside a key
        "TORVANE REGISTRY 1\r\n[Key\r\n",                           // missing ']'
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=\"open\r\n",          // unterminated string
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=dword:0001\r\n",      // short dword
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=dword:0000000G\r\n",  // not hex
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=hex:01,0\r\n",        // half a byte
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=hex:01,\r\n",         // trailing comma
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=\"C:\\\"\r\n",        // the quote is escaped: no end
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=\"x\" junk\r\n",      // junk after the value
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=blob:00\r\n",         // unknown kind
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"\r\n",                 // no '='
        "TORVANE REGISTRY 1\r\n[A\\\\B]\r\n",                       // empty component
        "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=\"x\"",               // cut before its line end
        "\xEF\xBB\xBFTORVANE REGISTRY 1\r\n",
        "TORVANE REGISTRY 1\r\n[Key]\r\njunk\r\n",
    };
    std::vector<HiveKey> keys;
    for (const char* text : bad) EXPECT_FALSE(parse_hive(text, keys)) << text;
    EXPECT_TRUE(parse_hive("", keys));
    EXPECT_TRUE(keys.empty());

    TempRoot root;
    std::filesystem::create_directories(root / "registry");
    const std::string broken = "TORVANE REGISTRY 1\r\n[Key]\r\n\"a\"=dword:00000001\r\n\"b\"=\"cut";
    ASSERT_TRUE(atomic_write_file(root / "registry/HKLM.reg", broken));
    Registry& r = registry();
    EXPECT_EQ(r.get(LM, "Key", "a"), std::nullopt);
    EXPECT_FALSE(r.key_exists(LM, "Key"));
    EXPECT_FALSE(r.set(LM, "Key", "c", RegValue::from_dword(2)));
    EXPECT_FALSE(r.delete_key(LM, "Key"));
    EXPECT_EQ(read_whole_file(root / "registry/HKLM.reg"), broken);
}

TEST(RegistryHive, MangledHivesNeverCrashTheParser) {
    std::vector<HiveKey> keys = {{"A", {{"", RegValue::string("d")}, {"s", RegValue::string("x\"\\\x01\xE9")}}},
                                 {"A\\B", {{"d", RegValue::from_dword(9)}, {"h", binary("\x00\xff")}}},
                                 {"C", {{"e", RegValue::expand_string("%x%")}}}};
    const std::string good = format_hive(keys);
    std::mt19937 rng(12345);
    std::vector<HiveKey> out;
    for (std::size_t cut = 0; cut <= good.size(); ++cut) {
        std::string text = good.substr(0, cut);
        if (parse_hive(text, out)) {
            EXPECT_TRUE(text.empty() || text.back() == '\n');
            std::vector<HiveKey> again;
            EXPECT_TRUE(parse_hive(format_hive(out), again));
        }
    }
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) text[rng() % text.size()] = static_cast<char>(rng() & 0xFF);
        if (parse_hive(text, out)) {
            std::vector<HiveKey> again;
            ASSERT_TRUE(parse_hive(format_hive(out), again));
            EXPECT_EQ(format_hive(again), format_hive(out));
        }
    }
}

TEST(RegistryHive, TwoProcessesWritingOneHiveLoseNothing) {
    TempRoot root;
    const int kEach = 200;
    // Appended, not "x" + to_string(i): gcc 12 at -O3 takes the string insert for an overlapping copy.
    auto name = [](char tag, int i) {
        std::string n(1, tag);
        n += std::to_string(i);
        return n;
    };
    auto writer = [&](char tag) {
        return testing::fork_child([&] {
            auto r = make_file_registry(machine_registry_dir(), user_registry_dir());
            for (int i = 0; i < kEach; ++i)
                if (!r->set(LM, "Software\\Race", name(tag, i), RegValue::from_dword(i))) return 1;
            return 0;
        });
    };
    pid_t a = writer('a'), b = writer('b');
    EXPECT_EQ(testing::wait_child(a), 0);
    EXPECT_EQ(testing::wait_child(b), 0);
    auto r = make_file_registry(machine_registry_dir(), user_registry_dir());
    auto names = r->value_names(LM, "Software\\Race");
    EXPECT_EQ(names.size(), 2u * kEach);
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(r->get(LM, "Software\\Race", name('a', i)), RegValue::from_dword(i));
        EXPECT_EQ(r->get(LM, "Software\\Race", name('b', i)), RegValue::from_dword(i));
    }
}

}  // namespace
}  // namespace tv::platform
