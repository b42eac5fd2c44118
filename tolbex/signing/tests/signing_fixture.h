// Certificates made at test time: one RSA key per process (making keys is slow), self-signed
// certificates with the names and serials a test asks for, and their PKCS#12 form for the store.
#pragma once
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <string>

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

// A self-signed certificate (or one naming another issuer, then not self-signed) for `name`.
inline TestIdentity make_identity(const std::string& name, const std::string& issuer = {},
                                  const std::string& serial_hex = "1A2B3C4D5E6F708192A3B4C5D6E7F8091A2B3C4D",
                                  EVP_PKEY* key = shared_test_key(), bool organisation = true) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serial_hex.c_str());
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x));
    BN_free(bn);
    X509_NAME* subject = X509_get_subject_name(x);
    if (organisation)
        X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Test Clinic"),
                                   -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                               -1, 0);
    X509_NAME* by = X509_get_issuer_name(x);
    const std::string& issuer_cn = issuer.empty() ? name : issuer;
    if (organisation)
        X509_NAME_add_entry_by_txt(by, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Test Clinic"), -1,
                                   -1, 0);
    X509_NAME_add_entry_by_txt(by, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(issuer_cn.c_str()), -1,
                               -1, 0);
    ASN1_TIME_set_string(X509_getm_notBefore(x), "20240102030405Z");
    ASN1_TIME_set_string(X509_getm_notAfter(x), "20440102030405Z");
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    TestIdentity id;
    id.certificate = Certificate(x, key);
    PKCS12* p12 = PKCS12_create("", name.c_str(), key, x, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(p12, &der);
    id.p12.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    PKCS12_free(p12);
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, x);
    char* data = nullptr;
    long len = BIO_get_mem_data(b, &data);
    id.cert_pem.assign(data, static_cast<std::size_t>(len));
    BIO_free(b);
    b = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
    len = BIO_get_mem_data(b, &data);
    id.key_pem.assign(data, static_cast<std::size_t>(len));
    BIO_free(b);
    X509_free(x);
    return id;
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
