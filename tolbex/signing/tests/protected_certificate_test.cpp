// Certificates whose PKCS#12 file needs a password: locked until the logon password opens them,
// beside files without one, which open at once.
#include <gtest/gtest.h>

#include "platform/cert_store.h"
#include "testing/test_root.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/signing/tests/pkcs12_cli.h"

namespace tv::signing {
namespace {

TEST(ProtectedCertificate, OpensWithItsPasswordOnlyAndSigns) {
    platform::testing::TempRoot root;
    const auto anna = testing::make_identity("Anna Smith", "Clinic CA", "01");
    const auto ben = testing::make_identity("Ben Jones", "Clinic CA", "02");
    const auto locked = testing::pkcs12_from_cli(anna, "s3cret pw", root.path());
    const auto open = testing::pkcs12_from_cli(ben, "", root.path());
    if (!locked || !open) GTEST_SKIP() << "no openssl program here";
    auto store = platform::make_memory_cert_store();
    ASSERT_TRUE(store->put("a.p12", *locked));
    ASSERT_TRUE(store->put("b.p12", *open));
    ASSERT_TRUE(store->put("c.p12", "not a PKCS#12 file"));
    Crypto crypto(*store);
    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& r : crypto.list_certificates()) out.push_back(r.issued_to);
        return out;
    };
    EXPECT_EQ(names(), std::vector<std::string>{"Ben Jones"}) << "no password: open at once";
    EXPECT_EQ(crypto.locked_text(), kLockedCertificatesText);
    for (const char* wrong : {"", "s3cret", "S3CRET PW", "s3cret pw "}) EXPECT_EQ(crypto.unlock(wrong), 0u) << wrong;
    EXPECT_TRUE(crypto.find_certificate(anna.certificate.fingerprint()).empty());

    EXPECT_EQ(crypto.unlock("s3cret pw"), 1u);
    EXPECT_EQ(crypto.locked_text(), "");
    EXPECT_EQ(names(), (std::vector<std::string>{"Anna Smith", "Ben Jones"})) << "in the store's order";
    const Certificate opened = crypto.find_certificate(anna.certificate.fingerprint());
    ASSERT_TRUE(opened.has_private_key());
    auto envelope = sign(opened, "content");  // needs the certificate's own private key
    EXPECT_TRUE(envelope) << envelope.error().message;
    EXPECT_EQ(crypto.unlock("s3cret pw"), 0u) << "opened once";
}

}  // namespace
}  // namespace tv::signing
