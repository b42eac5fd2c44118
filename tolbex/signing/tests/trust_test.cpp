// Which signers the site trusts: chains to the trust store's authorities at the signing time.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "testing/test_root.h"
#include "tolbex/signing/tests/signing_fixture.h"
#include "tolbex/signing/trust.h"

namespace tv::signing {
namespace {

std::int64_t at(int year) { return (static_cast<std::int64_t>(year) - 1970) * 31556952; }

void put(const std::string& folder, const std::string& name, const std::string& pem) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/" + name, std::ios::binary) << pem;
}

TEST(Trust, SignersChainToTheSiteAuthoritiesAtTheSigningTime) {
    platform::testing::TempRoot root;
    const testing::TestCa ca = testing::make_ca("Clinic CA");
    const testing::TestCa stranger = testing::make_ca("Stranger CA");
    const testing::TestCa intermediate = testing::make_ca("Ward CA", &ca);
    const testing::TestCa rogue_intermediate = testing::make_ca("Ward CA", &stranger);
    static EVP_PKEY* impostor_key = EVP_RSA_gen(2048);
    const testing::TestCa impostor = testing::make_ca("Clinic CA", nullptr, impostor_key);
    const testing::TestIdentity own = testing::make_identity("Own Signer", "", "0D0E");
    const std::string store = platform::trust_store_dir();
    put(store, "clinic-ca.pem", ca.id.cert_pem);
    put(store, "own.crt", own.cert_pem);
    put(store, ".hidden.pem", stranger.id.cert_pem);  // names beginning with '.' are not read
    struct Case {
        const char* what;
        testing::TestIdentity signer;
        std::vector<Certificate> carried;
        int year;
        const char* problem;  // empty: trusted
    };
    const Case cases[] = {
        {"issued by the site's authority", testing::make_issued_identity("Anna Smith", ca), {}, 2023, ""},
        {"through an intermediate it carries",
         testing::make_issued_identity("Anna Smith", intermediate),
         {intermediate.id.certificate},
         2023,
         ""},
        {"the signer's own certificate in the store", own, {}, 2030, ""},
        {"self-made with the same names",
         testing::make_identity("Anna Smith", "Clinic CA"),
         {},
         2030,
         "was not issued by an authority that this site trusts"},
        {"an authority the site does not know",
         testing::make_issued_identity("Anna Smith", stranger),
         {},
         2023,
         "was not issued by an authority that this site trusts"},
        {"an intermediate of a stranger",
         testing::make_issued_identity("Anna Smith", rogue_intermediate),
         {rogue_intermediate.id.certificate},
         2023,
         "was not issued by an authority that this site trusts"},
        {"expired when signed",
         testing::make_issued_identity("Anna Smith", ca, "20100101000000Z", "20150101000000Z"),
         {},
         2023,
         "had expired when the report was signed"},
        {"issued by a stranger who took the name of the site's authority, before that one was valid",
         testing::make_issued_identity("Anna Smith", impostor, "19900101000000Z"),
         {},
         1995,
         "the certificate of \"Anna Smith\" was not issued by an authority that this site trusts"},
        {"not yet valid when signed",
         testing::make_issued_identity("Anna Smith", ca, "20250101000000Z"),
         {},
         2023,
         "was not yet valid when the report was signed"},
    };
    for (const Case& c : cases) {
        const Result<void> r = check_trust(c.signer.certificate, c.carried, at(c.year));
        EXPECT_EQ(r.ok(), !*c.problem) << c.what << ": " << (r ? "" : r.error().message);
        if (!r) {
            EXPECT_EQ(r.error().code, kErrUntrusted) << c.what;
            EXPECT_NE(r.error().message.find(c.problem), std::string::npos) << c.what << ": " << r.error().message;
        }
    }
    // Outside a relocated root, a store that others than root could change is not read.
    const testing::TestIdentity anna = testing::make_issued_identity("Anna Smith", ca);
    const char* relocated = std::getenv("TORVANE_ROOT");
    const std::string saved = relocated ? relocated : "";
    ::unsetenv("TORVANE_ROOT");
    EXPECT_TRUE(check_trust(anna.certificate, {}, at(2023), store).ok());
    ::chmod(store.c_str(), 0775);
    EXPECT_FALSE(check_trust(anna.certificate, {}, at(2023), store).ok());
    ::chmod(store.c_str(), 0755);
    // A folder on the way that others may write: the store could be swapped for another.
    const std::string parent = std::filesystem::path(store).parent_path().string();
    struct stat was;
    ASSERT_EQ(::stat(parent.c_str(), &was), 0);
    ::chmod(parent.c_str(), 0777);
    EXPECT_FALSE(check_trust(anna.certificate, {}, at(2023), store).ok());
    ::chmod(parent.c_str(), was.st_mode & 07777);
    EXPECT_TRUE(check_trust(anna.certificate, {}, at(2023), store).ok());
    ::chmod((store + "/clinic-ca.pem").c_str(), 0666);
    EXPECT_FALSE(check_trust(anna.certificate, {}, at(2023), store).ok());
    ::setenv("TORVANE_ROOT", saved.c_str(), 1);
}

}  // namespace
}  // namespace tv::signing
