#include "common/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "common/files.h"
#include "common/strings.h"
#include "platform/paths.h"
#include "testing/test_accounts.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::RegType;
using platform::RegValue;

// Forwards to a memory registry, records every write, and fails the writes to chosen keys.
class RecordingRegistry : public platform::Registry {
public:
    std::unique_ptr<platform::Registry> inner = platform::make_memory_registry();
    std::vector<std::string> writes;  // "key|name"
    std::set<std::string> failing_keys;

    std::optional<RegValue> get(RegRoot r, const std::string& k, const std::string& n) override {
        return inner->get(r, k, n);
    }
    bool set(RegRoot r, const std::string& k, const std::string& n, const RegValue& v) override {
        writes.push_back(k + "|" + n);
        if (failing_keys.count(k)) return false;
        return inner->set(r, k, n, v);
    }
    bool key_exists(RegRoot r, const std::string& k) override { return inner->key_exists(r, k); }
    bool create_key(RegRoot r, const std::string& k) override { return inner->create_key(r, k); }
    bool delete_value(RegRoot r, const std::string& k, const std::string& n) override {
        return inner->delete_value(r, k, n);
    }
    bool delete_key(RegRoot r, const std::string& k) override { return inner->delete_key(r, k); }
    std::vector<std::string> sub_keys(RegRoot r, const std::string& k) override { return inner->sub_keys(r, k); }
    std::vector<std::string> value_names(RegRoot r, const std::string& k) override { return inner->value_names(r, k); }
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        save_env("PATH");
        platform::set_registry(&reg_);
        reset_cached_roots();
        language_ = get_ui_language();
    }
    void TearDown() override {
        set_ui_language(language_);
        platform::set_registry(nullptr);
        reset_cached_roots();
        for (auto& [name, value] : env_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void save_env(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        env_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    // An executable file (a program the searches can find).
    std::string program(const std::string& relative) {
        const fs::path p = fs::path(root_) / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\nexit 0\n";
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
        return p.string();
    }
    void set_dword(RegRoot r, const std::string& key, const std::string& name, std::uint32_t v) {
        ASSERT_TRUE(reg_set_dword(r, key, name, v));
    }

    platform::testing::TempRoot temp_{platform::testing::TmpDir::Root};
    const std::string root_ = temp_.path();
    RecordingRegistry reg_;
    int language_ = 0;
    std::vector<std::pair<std::string, std::optional<std::string>>> env_;
};

TEST_F(RegistryTest, TypedValuesFallBackToTheirDefaults) {
    const std::string key = "Software\\Torvane Medical\\Test";
    EXPECT_EQ(reg_get_dword(HKEY_CURRENT_USER, key, "Missing", 42u), 42u);
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "Missing", "def"), "def");

    ASSERT_TRUE(reg_set_dword(HKEY_CURRENT_USER, key, "Count", 7));
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, key, "Name", "Calvera"));
    // Keys and names are matched without regard to case, as both spellings occur.
    EXPECT_EQ(reg_get_dword(HKEY_CURRENT_USER, "SOFTWARE\\torvane medical\\TEST", "count", 0), 7u);
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "NAME", ""), "Calvera");
    // Wrong types give the default.
    EXPECT_EQ(reg_get_dword(HKEY_CURRENT_USER, key, "Name", 5), 5u);
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "Count", "d"), "d");
    // Another root is another hive.
    EXPECT_EQ(reg_get_dword(HKEY_LOCAL_MACHINE, key, "Count", 1), 1u);

    // Expandable strings are returned as stored.
    ASSERT_TRUE(platform::registry().set(HKEY_CURRENT_USER, key, "Path", RegValue::expand_string("%TEMP%\\x")));
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "Path", ""), "%TEMP%\\x");

    // 1023 bytes fit the reader's buffer with their NUL; 1024 do not.
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, key, "Long", std::string(1023, 'a')));
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "Long", "").size(), 1023u);
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, key, "Long", std::string(1024, 'a')));
    EXPECT_EQ(reg_get_string(HKEY_CURRENT_USER, key, "Long", "def"), "def");
}

TEST_F(RegistryTest, LanguagePerApplicationBeforeCommon) {
    set_dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane Medical\\Language\\Calvera", "PrimaryLanguage", 9);
    set_dword(HKEY_CURRENT_USER, "Software\\Torvane Medical\\Language", "PrimaryLanguage", 7);
    EXPECT_EQ(select_ui_language("Calvera"), 0x0409);
    EXPECT_EQ(get_ui_language(), 0x0409);

    // Another program has no per-application key: the user's common key answers.
    EXPECT_EQ(select_ui_language("VOND"), 0x0407);
    EXPECT_EQ(get_ui_language(), 0x0407);
    EXPECT_EQ(select_ui_language(""), 0x0407);

    // The user's per-application key comes before the machine's.
    set_dword(HKEY_CURRENT_USER, "SOFTWARE\\Torvane Medical\\Language\\Calvera", "PrimaryLanguage", 0x0C);
    set_dword(HKEY_CURRENT_USER, "SOFTWARE\\Torvane Medical\\Language\\Calvera", "SubLanguage", 2);
    EXPECT_EQ(select_ui_language("Calvera"), 0x080C);

    // Ignoring per-application settings leaves only the common keys.
    set_dword(HKEY_CURRENT_USER, "SOFTWARE\\Torvane Medical\\Language", "IgnorePerAppSettings", 1);
    EXPECT_EQ(select_ui_language("Calvera"), 0x0407);
}

TEST_F(RegistryTest, LanguageSignedValuesAndFallThrough) {
    const std::string common = "SOFTWARE\\Torvane Medical\\Language";
    // Nothing set: -1 and the language stays as it was.
    set_ui_language(0x0410);
    EXPECT_EQ(select_ui_language("Calvera"), -1);
    EXPECT_EQ(get_ui_language(), 0x0410);

    // A stored -1 is "not set": the machine's common key answers; a negative SubLanguage reads as 1.
    set_dword(HKEY_CURRENT_USER, common, "PrimaryLanguage", 0xFFFFFFFFu);
    set_dword(HKEY_LOCAL_MACHINE, common, "PrimaryLanguage", 0x10);
    set_dword(HKEY_LOCAL_MACHINE, common, "SubLanguage", 0xFFFFFFFEu);
    EXPECT_EQ(select_ui_language("Calvera"), 0x0410);

    // Primary language 0 is a choice; the identifier keeps its low 16 bits.
    set_dword(HKEY_CURRENT_USER, common, "PrimaryLanguage", 0);
    set_dword(HKEY_CURRENT_USER, common, "SubLanguage", 0x41);
    EXPECT_EQ(select_ui_language("Calvera"), 0x0400);
    // A value of the wrong type is the default.
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, common, "PrimaryLanguage", "7"));
    EXPECT_EQ(select_ui_language("Calvera"), 0x0410);
}

TEST_F(RegistryTest, AnalyserRootsAreReadOncePerProcess) {
    const std::string key = "Software\\Torvane Medical\\Quorril";
    // A value of the wrong type is the default folder.
    set_dword(HKEY_CURRENT_USER, key, "UserRoot", 1);
    EXPECT_EQ(get_analyser_user_root(), platform::analyser_default_root());
    EXPECT_EQ(platform::analyser_default_root(), root_ + "/ANALYSER");

    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, key, "SystemRoot", "/srv/analyser"));
    EXPECT_EQ(get_analyser_system_root(), "/srv/analyser");
    // Changed while running: not seen until the next start.
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, key, "UserRoot", "/home/u/analyser"));
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, key, "SystemRoot", "/other"));
    EXPECT_EQ(get_analyser_user_root(), platform::analyser_default_root());
    EXPECT_EQ(get_analyser_system_root(), "/srv/analyser");
    reset_cached_roots();
    EXPECT_EQ(get_analyser_user_root(), "/home/u/analyser");
    EXPECT_EQ(get_analyser_system_root(), "/other");
}

TEST_F(RegistryTest, RegisterFileTypeWritesTheDocumentType) {
    const std::string exe = get_module_path();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(register_file_type("T", "D", ".X", "/s"), 0);
    auto text = [](const std::string& key) {
        auto v = platform::registry().get(HKEY_CLASSES_ROOT, key, "");
        return v && v->type == RegType::String ? v->text : std::string("<missing>");
    };
    EXPECT_EQ(text("T"), "D");
    EXPECT_EQ(text("T\\DefaultIcon"), exe + ",0");
    EXPECT_EQ(text("T\\shell\\open\\command"), exe + " /s \"%1\"");
    EXPECT_EQ(text(".X"), "T");

    // A second registration leaves the extension alone.
    reg_.writes.clear();
    EXPECT_EQ(register_file_type("T", "D", ".X", "/s"), 0);
    EXPECT_EQ(reg_.writes, (std::vector<std::string>{"T|", "T\\DefaultIcon|", "T\\shell\\open\\command|"}));

    // An extension naming another type is taken over.
    ASSERT_TRUE(reg_set_string(HKEY_CLASSES_ROOT, ".X", "", "Other"));
    EXPECT_EQ(register_file_type("T", "D", ".X", "/s"), 0);
    EXPECT_EQ(text(".X"), "T");
}

TEST_F(RegistryTest, RegisterFileTypeNamesTheFailingStep) {
    const std::pair<std::string, int> steps[] = {{"T", 1},
                                                 {"T\\DefaultIcon", 2},
                                                 {"T\\shell\\open\\command", 3},
                                                 {".X", 4}};
    for (const auto& [key, step] : steps) {
        // The first step fails only when the account's own classes refuse it too.
        reg_.failing_keys = {key, "Software\\Classes\\" + key};
        EXPECT_EQ(register_file_type("T", "D", ".X", "/s"), step) << key;
        reg_.failing_keys.clear();
    }
}

// An ordinary account cannot write the machine's hive (root's folder): the type goes into its
// own classes, and the machine's hive is not made.
TEST_F(RegistryTest, AnAccountThatCannotWriteTheMachineClassesRegistersItsOwn) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "needs root to make accounts";
    const fs::path machine = fs::path(root_) / "machine", user = fs::path(root_) / "user";
    fs::create_directories(machine);
    fs::create_directories(user);
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    ASSERT_EQ(::chown(user.c_str(), accounts.uid(0), accounts.gid()), 0);
    const std::string exe = get_module_path();
    const int code = accounts.run_as(0, [&] {
        const auto files = platform::make_file_registry(machine.string(), user.string());
        platform::set_registry(files.get());
        const bool registered = register_file_type("T", "D", ".X", "/s") == 0;
        const std::optional<RegValue> command =
            files->get(HKEY_CURRENT_USER, "Software\\Classes\\T\\shell\\open\\command", "");
        const std::optional<RegValue> extension = files->get(HKEY_CURRENT_USER, "Software\\Classes\\.X", "");
        platform::set_registry(nullptr);
        return registered && command && command->text == exe + " /s \"%1\"" && extension && extension->text == "T";
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(fs::exists(machine / "HKCR.reg"));
    EXPECT_TRUE(fs::exists(user / "HKCU.reg"));
}

TEST_F(RegistryTest, ProgramSearches) {
    // Nothing installed.
    setenv("PATH", (root_ + "/bin").c_str(), 1);
    EXPECT_EQ(find_main_program_path(), "");
    EXPECT_EQ(get_card_program_path(), "");
    EXPECT_EQ(get_log_dll_path(), "");
    EXPECT_EQ(find_szip_path(), "");

    // The analysis system's copy of the main program, its folder spelled in another case.
    const std::string system_copy = program("ANALYSER/system/pellarn");
    EXPECT_EQ(find_main_program_path(), system_copy);
    // Registry locations come first: the user's when the machine's names nothing that exists.
    const std::string user_copy = program("user/TOLBEX");
    const std::string machine_copy = program("machine/tolbex");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Calvera", "Location",
                               root_ + "/nowhere/TOLBEX.EXE"));
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, "Software\\Torvane Medical\\- Calvera -", "Location",
                               root_ + "/user/TOLBEX.EXE"));
    EXPECT_EQ(find_main_program_path(), user_copy);
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Calvera", "Location",
                               root_ + "/machine/TOLBEX.EXE"));
    EXPECT_EQ(find_main_program_path(), machine_copy);

    const std::string card = program("card/vond");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Ostrabel CF Interface Program",
                               "Install Path", root_ + "/card/VOND.EXE"));
    EXPECT_EQ(get_card_program_path(), card);

    const std::string dll = program("log/messages.so");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Log", "DLL Install Path", dll));
    EXPECT_EQ(get_log_dll_path(), dll);
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Log", "DLL Install Path",
                               root_ + "/log/missing.so"));
    EXPECT_EQ(get_log_dll_path(), "");
}

TEST_F(RegistryTest, SzipSearchOrder) {
    setenv("PATH", (root_ + "/bin").c_str(), 1);
    program("main/tolbex");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Calvera", "Location",
                               root_ + "/main/TOLBEX.EXE"));
    program("card/vond");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "Software\\Torvane Medical\\Ostrabel CF Interface Program",
                               "Install Path", root_ + "/card/vond"));

    // Each candidate, from last to first, wins over the ones after it.
    const std::string beside_card = program("card/szip");
    EXPECT_EQ(find_szip_path(), beside_card);
    const std::string beside_main = program("main/SZIP");
    EXPECT_EQ(find_szip_path(), beside_main);
    const std::string on_path = program("bin/szip");
    EXPECT_EQ(find_szip_path(), on_path);
    const std::string installed = program("common/szip");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane Medical\\SZIP", "Install Path",
                               root_ + "/common/szip.exe"));
    EXPECT_EQ(find_szip_path(), installed);
}

}  // namespace
}  // namespace tv
