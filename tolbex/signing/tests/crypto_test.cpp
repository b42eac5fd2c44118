#include "tolbex/signing/crypto.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include "common/bytes.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::signing {
namespace {

std::string hex_of(std::string_view s) {
    std::string out;
    char buf[3];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

TEST(Envelope, KeyAndStreamAreThoseEveryInstallationUses) {
    EXPECT_EQ(hex_of(*digest(NID_md5, kEnvelopePassPhrase)), "ad03c134997d4cdc224baa2a2fbfabe8");
    // An empty key blob, then the RC4 key stream itself for sixteen zero bytes.
    EXPECT_EQ(hex_of(encrypt_envelope(std::string(16, '\0'))), "00000000c2e9053e07f3a289be93c7577f62cf32");
}

TEST(Envelope, RoundTripsAnyLength) {
    for (std::size_t n : {0u, 1u, 1007u, 1008u, 2016u, 5001u}) {
        std::string plain(n, '\0');
        for (std::size_t i = 0; i < n; ++i) plain[i] = static_cast<char>(i * 7);
        auto back = decrypt_envelope(encrypt_envelope(plain));
        ASSERT_TRUE(back) << n;
        EXPECT_EQ(*back, plain) << n;
    }
}

TEST(Envelope, KeyBlobLengthIsCheckedBeforeUse) {
    struct Case {
        std::uint32_t blob;
        std::size_t present;
        bool ok;
    } cases[] = {{10000, 10000, true}, {10001, 10001, false}, {8, 7, false}, {0, 0, true}};
    for (const auto& c : cases) {
        std::string env;
        tv::append_le32(env, c.blob);
        env += std::string(c.present, 'k');
        auto r = decrypt_envelope(env);
        EXPECT_EQ(r.ok(), c.ok) << c.blob;
        if (!r) {
            EXPECT_EQ(r.error().code, kErrEnvelope);
            EXPECT_EQ(r.error().message, "");
        }
    }
    EXPECT_FALSE(decrypt_envelope("abc"));
}

TEST(Digest, KnownVectors) {
    EXPECT_EQ(hex_of(*digest(NID_md2, "abc")), "da853b0d3f88d99b30283a69e6ded6bb");
    EXPECT_EQ(hex_of(*digest(NID_sha256, "abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(digest(NID_md4, "abc"));
    // DigestInfo of MD2: SEQ { SEQ { 1.2.840.113549.2.2, NULL }, OCTET STRING[16] }.
    EXPECT_EQ(hex_of(encode_digest_info(NID_md2, std::string(16, '\x11'))),
              "3020300c06082a864886f70d020205000410" + std::string(32, '1'));
}

TEST(SignMessage, WritesDerSignedDataWithMd2AndOnlyTheSignersCertificate) {
    const auto id = testing::make_identity("Anna Smith");
    auto msg = sign_message(id.certificate, "hello");
    ASSERT_TRUE(msg) << msg.error().message;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(msg->data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(msg->size()));
    ASSERT_NE(p7, nullptr);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS7(p7, &der);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(der), n), *msg);  // DER: re-encodes to the same bytes
    OPENSSL_free(der);
    ASSERT_TRUE(PKCS7_type_is_signed(p7));
    EXPECT_EQ(ASN1_INTEGER_get(p7->d.sign->version), 1);
    EXPECT_EQ(sk_X509_num(p7->d.sign->cert), 1);
    EXPECT_EQ(p7->d.sign->crl, nullptr);
    ASSERT_EQ(sk_PKCS7_SIGNER_INFO_num(p7->d.sign->signer_info), 1);
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
    EXPECT_EQ(OBJ_obj2nid(si->digest_alg->algorithm), NID_md2);
    EXPECT_EQ(OBJ_obj2nid(si->digest_enc_alg->algorithm), NID_rsaEncryption);
    EXPECT_LE(sk_X509_ATTRIBUTE_num(si->auth_attr), 0);  // none at all
    PKCS7_free(p7);

    auto verified = verify_message(*msg);
    ASSERT_TRUE(verified) << verified.error().message;
    EXPECT_EQ(verified->content, "hello");
    ASSERT_EQ(verified->signers.size(), 1u);
    EXPECT_EQ(verified->signers[0].fingerprint(), id.certificate.fingerprint());
}

TEST(SignMessage, NeedsThePrivateKeyOfTheCertificate) {
    const auto id = testing::make_identity("Anna Smith");
    Certificate no_key(id.certificate.x509(), nullptr);
    auto r = sign_message(no_key, "x");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, kErrNoKey);
    EXPECT_EQ(r.error().message.rfind("Signing failed : ", 0), 0u);
    EVP_PKEY* other = EVP_RSA_gen(1024);
    Certificate wrong_key(id.certificate.x509(), other);
    EVP_PKEY_free(other);
    EXPECT_FALSE(sign_message(wrong_key, "x"));
}

// Messages other installations write: OpenSSL's own signer, with and without signed attributes,
// DER or streamed BER, with the digests peers use.
std::string openssl_signed(const testing::TestIdentity& id, const EVP_MD* md, int flags, bool ber,
                           std::string_view data) {
    BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    PKCS7* p7 = PKCS7_sign(nullptr, nullptr, nullptr, nullptr, PKCS7_BINARY | PKCS7_PARTIAL | flags);
    PKCS7_sign_add_signer(p7, id.certificate.x509(), id.certificate.private_key(), md, flags);
    if (!(flags & PKCS7_NOCERTS)) PKCS7_add_certificate(p7, id.certificate.x509());
    BIO* out = BIO_new(BIO_s_mem());
    if (ber) {
        i2d_PKCS7_bio_stream(out, p7, in, PKCS7_BINARY | PKCS7_STREAM);
    } else {
        PKCS7_final(p7, in, PKCS7_BINARY);
        i2d_PKCS7_bio(out, p7);
    }
    char* bytes = nullptr;
    const long n = BIO_get_mem_data(out, &bytes);
    std::string result(bytes, static_cast<std::size_t>(n));
    BIO_free(out);
    BIO_free(in);
    PKCS7_free(p7);
    return result;
}

TEST(VerifyMessage, ReadsWhatOtherInstallationsWrite) {
    const auto id = testing::make_identity("Peer Signer");
    struct Case {
        const char* what;
        const EVP_MD* md;
        int flags;
        bool ber;
    } cases[] = {
        {"sha256 with attributes", EVP_sha256(), 0, false},
        {"sha256 without attributes", EVP_sha256(), PKCS7_NOATTR, false},
        {"sha1", EVP_sha1(), PKCS7_NOATTR, false},
        {"md5", EVP_md5(), 0, false},
        {"sha512 BER", EVP_sha512(), 0, true},
        {"sha384 BER without attributes", EVP_sha384(), PKCS7_NOATTR, true},
    };
    const std::string data(3000, 'r');
    for (const auto& c : cases) {
        const std::string msg = openssl_signed(id, c.md, c.flags, c.ber, data);
        ASSERT_FALSE(msg.empty()) << c.what;
        auto verified = verify_message(msg);
        ASSERT_TRUE(verified) << c.what << ": " << verified.error().message;
        EXPECT_EQ(verified->content, data) << c.what;
        ASSERT_EQ(verified->signers.size(), 1u);
        EXPECT_EQ(verified->signers[0].subject_name(), "Peer Signer");
    }
}

TEST(VerifyMessage, RefusesWithThePartsMessages) {
    const auto id = testing::make_identity("Peer Signer");
    auto good = sign_message(id.certificate, "content");
    ASSERT_TRUE(good);
    std::string changed = *good;
    changed[changed.find("content")] = 'C';
    struct Case {
        const char* what;
        std::string message;
        std::string text;
    } cases[] = {
        {"garbage", "not a message", "CryptMsgUpdate() failed : the data is not a PKCS #7 message"},
        {"trailing bytes", *good + "x", "CryptMsgUpdate() failed : the data is not a PKCS #7 message"},
        {"changed content", changed,
         "CryptMsgControl( ... CMSG_CTRL_VERIFY_SIGNATURE ... ) failed : The hash value is not correct."},
        {"no certificate", openssl_signed(id, EVP_sha256(), PKCS7_NOCERTS, false, "content"),
         "There was an error reading the name of the message signer from the certificate store."},
    };
    for (const auto& c : cases) {
        auto r = verify_message(c.message);
        ASSERT_FALSE(r) << c.what;
        EXPECT_EQ(r.error().code, kErrMessage) << c.what;
        EXPECT_EQ(r.error().message, c.text) << c.what;
    }
}

TEST(Certificate, FieldsAsTheSignerIsShown) {
    const auto id = testing::make_identity("Anna Smith", "Clinic CA");
    SignatureRecord r;
    r.certificate = id.certificate;
    ASSERT_TRUE(fill_certificate_fields(r));
    EXPECT_EQ(r.issued_to, "Anna Smith");
    EXPECT_EQ(r.issued_by, "Clinic CA");
    EXPECT_EQ(r.valid_from, "03:04:05 02 Jan 2024");
    EXPECT_EQ(r.valid_to, "03:04:05 02 Jan 2044");
    EXPECT_EQ(r.fingerprint.size(), 64u);
    EXPECT_EQ(id.certificate.not_after(), 2335316645);
    SignatureRecord empty;
    auto f = fill_certificate_fields(empty);
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error().message.rfind("Failed to find certificate in the store : ", 0), 0u);
}

TEST(Crypto, ListsTheStoresCertificatesButNoRecoveryOnesAndFindsByFingerprint) {
    auto store = platform::make_memory_cert_store();
    // Two certificates with the same names and 20-byte serials: still two distinct entries.
    const auto a = testing::make_identity("Anna Smith", "", "0101010101010101010101010101010101010101");
    const auto b = testing::make_identity("Anna Smith", "", "0101010101010101010101010101010101010102");
    auto recovery = testing::make_identity("Recovery Agent");
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_ext_key_usage, "1.3.6.1.4.1.311.10.3.4.1");
    X509_add_ext(recovery.certificate.x509(), ext, -1);
    X509_EXTENSION_free(ext);
    X509_sign(recovery.certificate.x509(), recovery.certificate.private_key(), EVP_sha256());
    ASSERT_TRUE(recovery.certificate.is_recovery_certificate());
    const auto elsewhere = testing::make_identity("Not In The Store");
    PKCS12* p12 =
        PKCS12_create("", "r", recovery.certificate.private_key(), recovery.certificate.x509(), nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(p12, &der);
    ASSERT_TRUE(store->put("c-recovery.p12", std::string(reinterpret_cast<char*>(der), n)));
    OPENSSL_free(der);
    PKCS12_free(p12);
    ASSERT_TRUE(store->put("a.p12", a.p12));
    ASSERT_TRUE(store->put("b.p12", b.p12));
    ASSERT_TRUE(store->put("d-broken.p12", "not pkcs12"));
    Crypto crypto(*store);
    ASSERT_TRUE(crypto.valid());
    auto list = crypto.list_certificates();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].fingerprint, a.certificate.fingerprint());
    EXPECT_EQ(list[1].fingerprint, b.certificate.fingerprint());
    EXPECT_NE(list[0].fingerprint, list[1].fingerprint);
    Certificate found = crypto.find_certificate(list[1].fingerprint);
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(found.has_private_key());
    EXPECT_EQ(found.fingerprint(), list[1].fingerprint);
    EXPECT_TRUE(crypto.find_certificate("").empty());
    EXPECT_TRUE(crypto.find_certificate(elsewhere.certificate.fingerprint()).empty());
}

TEST(Crypto, AnUnreadableStoreIsReported) {
    struct Broken : platform::CertStore {
        std::optional<std::vector<platform::StoredCertificate>> entries() override { return std::nullopt; }
        bool put(const std::string&, std::string_view) override { return false; }
    } broken;
    Crypto crypto(broken);
    EXPECT_FALSE(crypto.valid());
    EXPECT_EQ(crypto.error().code, kErrStore);
    EXPECT_EQ(crypto.error().message.rfind("Error getting certificate store handle : ", 0), 0u);
    EXPECT_TRUE(crypto.list_certificates().empty());
}

}  // namespace
}  // namespace tv::signing
