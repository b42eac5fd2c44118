#include "tools/demo/demo_signing.h"

#include <sys/stat.h>

#include <memory>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "common/files.h"
#include "platform/cert_store.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "tolbex/signing/openssl_handles.h"
#include "tolbex/signing/signed_report.h"

namespace tv::demo {
namespace {

using signing::Pkcs12Ptr;
using signing::PkeyPtr;
using signing::X509Ptr;

void add_name(X509_NAME* name, const std::string& common_name) {
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Demo Clinic"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name.c_str()),
                               -1, -1, 0);
}

Error demo_error(const char* what) { return fail(signing::kErrSign, std::string("demo certificate: ") + what); }

}  // namespace

namespace {

// A certificate for `key` named `common_name`, issued by `issuer` (itself when null) and signed
// with `issuer_key`; an authority's carries the extensions that let it issue.
Result<X509Ptr> make_certificate(const std::string& common_name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
                                 bool authority) {
    X509Ptr x(X509_new());
    if (!x) return demo_error("no certificate");
    X509_set_version(x.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return demo_error("no random serial");
    serial[0] &= 0x7F;  // a positive serial
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x.get()));
    BN_free(bn);
    add_name(X509_get_subject_name(x.get()), common_name);
    if (issuer)
        X509_set_issuer_name(x.get(), X509_get_subject_name(issuer));
    else
        add_name(X509_get_issuer_name(x.get()), common_name);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(x.get(), key);
    if (authority)
        for (const auto& [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                                         std::pair{NID_key_usage, "critical,keyCertSign,cRLSign"}}) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, nid, value);
            if (!ext) return demo_error("no extension");
            X509_add_ext(x.get(), ext, -1);
            X509_EXTENSION_free(ext);
        }
    if (X509_sign(x.get(), issuer_key, EVP_sha256()) <= 0) return demo_error("cannot sign");
    return x;
}

std::string pem_of(X509* x) {
    BIO* b = BIO_new(BIO_s_mem());
    if (!b || PEM_write_bio_X509(b, x) != 1) {
        BIO_free(b);
        return {};
    }
    char* data = nullptr;
    const long len = BIO_get_mem_data(b, &data);
    std::string out(data, static_cast<std::size_t>(len));
    BIO_free(b);
    return out;
}

}  // namespace

Result<signing::Certificate> make_self_signed_certificate(const std::string& common_name, int bits) {
    PkeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    if (!key) return demo_error("no key");
    auto x = make_certificate(common_name, key.get(), nullptr, key.get(), false);
    if (!x) return x.error();
    return signing::Certificate(x->get(), key.get());
}

Result<signing::Certificate> make_demo_certificate() {
    // The demo clinic's authority: trusted by the site, it issues the demo physician's certificate.
    PkeyPtr ca_key(EVP_RSA_gen(2048)), key(EVP_RSA_gen(2048));
    if (!ca_key || !key) return demo_error("no key");
    auto ca = make_certificate(kDemoAuthorityName, ca_key.get(), nullptr, ca_key.get(), true);
    if (!ca) return ca.error();
    auto x = make_certificate(kDemoSignerName, key.get(), ca->get(), ca_key.get(), false);
    if (!x) return x.error();
    const std::string trust = platform::trust_store_dir();
    const std::string ca_pem = pem_of(ca->get());
    // The store counts only while nobody but its owner can write it: under an operators' umask of
    // 002 the folder and file would be made group-writable and ignored.
    const std::string authority = join_path(trust, kDemoAuthorityFile);
    if (ca_pem.empty() || !create_folder_path(trust) || ::chmod(trust.c_str(), 0755) != 0 ||
        !platform::atomic_write_file(authority, ca_pem) || ::chmod(authority.c_str(), 0644) != 0)
        return demo_error("cannot add the demo authority to the trust store");
    signing::Certificate certificate(x->get(), key.get());
    Pkcs12Ptr p12(
        PKCS12_create("", kDemoSignerName, certificate.private_key(), certificate.x509(), nullptr, 0, 0, 0, 0, 0));
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
