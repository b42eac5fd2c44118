#include "tools/demo/demo_signing.h"

#include <memory>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "platform/cert_store.h"
#include "platform/system.h"
#include "tolbex/signing/signed_report.h"

namespace tv::demo {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using P12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;

void add_name(X509_NAME* name, const std::string& common_name) {
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Demo Clinic"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name.c_str()),
                               -1, -1, 0);
}

Error demo_error(const char* what) { return fail(signing::kErrSign, std::string("demo certificate: ") + what); }

}  // namespace

Result<signing::Certificate> make_self_signed_certificate(const std::string& common_name, int bits) {
    KeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    CertPtr x(X509_new());
    if (!key || !x) return demo_error("no key");
    X509_set_version(x.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return demo_error("no random serial");
    serial[0] &= 0x7F;  // a positive serial
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x.get()));
    BN_free(bn);
    add_name(X509_get_subject_name(x.get()), common_name);
    add_name(X509_get_issuer_name(x.get()), common_name);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(x.get(), key.get());
    if (X509_sign(x.get(), key.get(), EVP_sha256()) <= 0) return demo_error("cannot sign");
    return signing::Certificate(x.get(), key.get());
}

Result<signing::Certificate> make_demo_certificate() {
    auto certificate = make_self_signed_certificate(kDemoSignerName);
    if (!certificate) return certificate.error();
    P12Ptr p12(
        PKCS12_create("", kDemoSignerName, certificate->private_key(), certificate->x509(), nullptr, 0, 0, 0, 0, 0));
    unsigned char* der = nullptr;
    const int n = p12 ? i2d_PKCS12(p12.get(), &der) : -1;
    if (n <= 0) return demo_error("cannot write PKCS#12");
    const std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    if (!platform::cert_store().put(kDemoCertificateFile, bytes)) return demo_error("cannot store");
    return certificate;
}

Result<std::string> sign_demo_report(const signing::Certificate& certificate, const std::string& report_folder,
                                     const std::string& description) {
    signing::SignatureRecord record;
    record.certificate = certificate;
    record.signer_name = kDemoSignerName;
    record.meaning = 1;  // approved
    record.logon_name = "demo";
    record.system_name = platform::system().host_name();
    return signing::sign_and_store_report(record, report_folder, description, "");
}

}  // namespace tv::demo
