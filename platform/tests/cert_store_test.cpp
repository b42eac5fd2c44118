#include "platform/cert_store.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

TEST(CertStore, LivesInTheUsersFolderUnderTheRoot) {
    testing::TempRoot root;
    EXPECT_EQ(cert_store_dir(), root.path() + "/user/certificates");
}

TEST(CertStore, MissingFolderIsAnEmptyStore) {
    testing::TempRoot root;
    auto store = make_folder_cert_store("");
    auto entries = store->entries();
    ASSERT_TRUE(entries);
    EXPECT_TRUE(entries->empty());
}

TEST(CertStore, PutMakesAPrivateFileAndListsByName) {
    testing::TempRoot root;
    auto store = make_folder_cert_store("");
    ASSERT_TRUE(store->put("b.p12", "second"));
    ASSERT_TRUE(store->put("a.PFX", "first"));
    ASSERT_TRUE(store->put("b.p12", "replaced"));
    struct stat st;
    ASSERT_EQ(::stat(cert_store_dir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((cert_store_dir() + "/b.p12").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Other files in the folder are no certificates.
    ASSERT_TRUE(atomic_write_file(cert_store_dir() + "/notes.txt", "x"));
    auto entries = store->entries();
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "a.PFX");
    EXPECT_EQ((*entries)[0].bytes, "first");
    EXPECT_EQ((*entries)[1].name, "b.p12");
    EXPECT_EQ((*entries)[1].bytes, "replaced");
}

TEST(CertStore, RefusesNamesThatAreNoPlainCertificateFile) {
    testing::TempRoot root;
    auto folder = make_folder_cert_store(""), memory = make_memory_cert_store();
    for (CertStore* store : {folder.get(), memory.get()})
        for (const char* name : {"", "x.txt", "../x.p12", "a/b.p12", ".p12", ".hidden.p12"})
            EXPECT_FALSE(store->put(name, "x")) << name;
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/user/x.p12"));
}

TEST(CertStore, SkipsLinksAndOversizedFiles) {
    testing::TempRoot root;
    auto store = make_folder_cert_store("");
    ASSERT_TRUE(store->put("ok.p12", "ok"));
    ASSERT_TRUE(atomic_write_file(root.path() + "/elsewhere", "secret"));
    std::filesystem::create_symlink(root.path() + "/elsewhere", cert_store_dir() + "/link.p12");
    ASSERT_TRUE(atomic_write_file(cert_store_dir() + "/big.p12", std::string(kMaxStoredCertificateSize + 1, 'x')));
    auto entries = store->entries();
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].name, "ok.p12");
}

}  // namespace
}  // namespace tv::platform
