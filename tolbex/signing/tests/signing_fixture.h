// Certificates made at test time: one RSA key per process (making keys is slow), self-signed
// certificates with the names and serials a test asks for, and their PKCS#12 form for the store.
#pragma once
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <string>
#include <vector>

#include "tolbex/signing/crypto.h"

namespace tv::signing::testing {

inline EVP_PKEY* shared_test_key() {
    static EVP_PKEY* key = EVP_RSA_gen(2048);
    return key;
}

struct TestIdentity {
    Certificate certificate;  // with its private key
    std::string p12;          // PKCS#12, empty password
    std::string cert_pem, key_pem;
};

inline std::string pem_of(X509* x) {
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, x);
    char* data = nullptr;
    const long len = BIO_get_mem_data(b, &data);
    std::string out(data, static_cast<std::size_t>(len));
    BIO_free(b);
    return out;
}

inline void add_names(X509_NAME* n, const std::string& common_name, bool organisation) {
    if (organisation)
        X509_NAME_add_entry_by_txt(n, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Test Clinic"), -1, -1,
                                   0);
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                               -1, 0);
}

// A certificate for `name` and `key`, issued in the name of `issuer` and signed with `signer`.
inline X509* make_x509(const std::string& name, const std::string& issuer, const std::string& serial_hex, EVP_PKEY* key,
                       EVP_PKEY* signer, bool organisation, bool ca, const char* not_before, const char* not_after) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serial_hex.c_str());
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x));
    BN_free(bn);
    add_names(X509_get_subject_name(x), name, organisation);
    add_names(X509_get_issuer_name(x), issuer, organisation);
    ASN1_TIME_set_string(X509_getm_notBefore(x), not_before);
    ASN1_TIME_set_string(X509_getm_notAfter(x), not_after);
    X509_set_pubkey(x, key);
    if (ca)
        for (const auto& [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                                         std::pair{NID_key_usage, "critical,keyCertSign,cRLSign"}}) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, nid, value);
            X509_add_ext(x, ext, -1);
            X509_EXTENSION_free(ext);
        }
    X509_sign(x, signer, EVP_sha256());
    return x;
}

inline TestIdentity identity_of(X509* x, EVP_PKEY* key, const std::string& name) {
    TestIdentity id;
    id.certificate = Certificate(x, key);
    PKCS12* p12 = PKCS12_create("", name.c_str(), key, x, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(p12, &der);
    id.p12.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    PKCS12_free(p12);
    id.cert_pem = pem_of(x);
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long len = BIO_get_mem_data(b, &data);
    id.key_pem.assign(data, static_cast<std::size_t>(len));
    BIO_free(b);
    X509_free(x);
    return id;
}

// An identity from a certificate and its key in PEM (as the openssl program writes them); an
// empty certificate when either does not read.
inline TestIdentity identity_from_pem(const std::string& cert_pem, const std::string& key_pem) {
    BIO* cb = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
    BIO* kb = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    X509* x = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    BIO_free(kb);
    TestIdentity id;
    if (x && key)
        id = identity_of(x, key, "signer");
    else
        X509_free(x);
    EVP_PKEY_free(key);
    return id;
}

// A self-signed certificate (or one naming another issuer, then not self-signed) for `name`.
inline TestIdentity make_identity(const std::string& name, const std::string& issuer = {},
                                  const std::string& serial_hex = "1A2B3C4D5E6F708192A3B4C5D6E7F8091A2B3C4D",
                                  EVP_PKEY* key = shared_test_key(), bool organisation = true) {
    return identity_of(make_x509(name, issuer.empty() ? name : issuer, serial_hex, key, key, organisation, false,
                                 "20240102030405Z", "20440102030405Z"),
                       key, name);
}

// A certification authority with a key of its own; signed by `parent` when given, else by itself.
struct TestCa {
    std::string name;
    TestIdentity id;
    EVP_PKEY* key;
};
inline EVP_PKEY* ca_test_key() {
    static EVP_PKEY* key = EVP_RSA_gen(2048);
    return key;
}
inline TestCa make_ca(const std::string& name, const TestCa* parent = nullptr, EVP_PKEY* key = ca_test_key()) {
    X509* x = make_x509(name, parent ? parent->name : name, "0C0A", key, parent ? parent->key : key, true, true,
                        "20000101000000Z", "20490101000000Z");
    return {name, identity_of(x, key, name), key};
}
// A signer's certificate that `ca` issued, valid from `not_before` to `not_after`.
inline TestIdentity make_issued_identity(const std::string& name, const TestCa& ca,
                                         const char* not_before = "20200101000000Z",
                                         const char* not_after = "20440102030405Z",
                                         const std::string& serial_hex = "5A6B7C") {
    return identity_of(make_x509(name, ca.name, serial_hex, shared_test_key(), ca.key, true, false, not_before,
                                 not_after),
                       shared_test_key(), name);
}

// The signed file another system could write: `content` in one message with a SignerInfo (SHA-256,
// signed attributes) of each identity, in order, and their certificates.
inline std::string signed_file_by_all(const std::vector<const TestIdentity*>& signers, const std::string& content) {
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    PKCS7* p7 = PKCS7_sign(nullptr, nullptr, nullptr, nullptr, PKCS7_BINARY | PKCS7_PARTIAL);
    for (const TestIdentity* id : signers)
        PKCS7_sign_add_signer(p7, id->certificate.x509(), id->certificate.private_key(), EVP_sha256(), PKCS7_BINARY);
    PKCS7_final(p7, in, PKCS7_BINARY);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS7(p7, &der);
    std::string message(reinterpret_cast<char*>(der), static_cast<std::size_t>(n > 0 ? n : 0));
    OPENSSL_free(der);
    PKCS7_free(p7);
    BIO_free(in);
    return encrypt_envelope(message);
}

// A record ready to sign with: the identity's certificate and the account's details.
inline SignatureRecord signer_record(const TestIdentity& id) {
    SignatureRecord r;
    r.certificate = id.certificate;
    r.signer_name = "Anna Smith";
    r.logon_name = "asmith";
    r.system_name = "WARD7";
    r.meaning = 1;
    r.signing_time = 45000.5;  // 2023-03-15 12:00:00
    r.signing_time_status = kTimeValid;
    return r;
}

}  // namespace tv::signing::testing
