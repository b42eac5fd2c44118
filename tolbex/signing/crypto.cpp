#include "tolbex/signing/crypto.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/nettle-meta.h>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "common/bytes.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "tolbex/signing/openssl_handles.h"

namespace tv::signing {
namespace {

const unsigned char* bytes_of(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string hex(const unsigned char* p, std::size_t n, bool upper) {
    static const char* lower_digits = "0123456789abcdef";
    static const char* upper_digits = "0123456789ABCDEF";
    const char* d = upper ? upper_digits : lower_digits;
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += d[p[i] >> 4];
        out += d[p[i] & 15];
    }
    return out;
}

// A name from a certificate as one line of Windows-1252 text: whoever made the certificate chose
// it, and it reaches message boxes, pages, logs and the signed header.
std::string one_line(std::string_view utf8) { return platform::utf8_to_cp1252(escape_control_chars(utf8)); }

std::string entry_text(const X509_NAME_ENTRY* e) {
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
    if (n < 0) return {};
    OsslBytes owned(utf8);
    return one_line(std::string_view(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n)));
}

// The simple display name: the first of common name, unit, organisation, e-mail address in the
// name; else an e-mail address of the alternative-name extension; else the name's first part.
std::string simple_name(const X509* cert, const X509_NAME* name, int alt_name_nid) {
    if (!name) return {};
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
        const int i = X509_NAME_get_index_by_NID(name, nid, -1);
        if (i >= 0) return entry_text(X509_NAME_get_entry(name, i));
    }
    if (auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, alt_name_nid, nullptr, nullptr))) {
        std::string mail;
        for (int i = 0; i < sk_GENERAL_NAME_num(names) && mail.empty(); ++i) {
            const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
            if (g->type == GEN_EMAIL)
                mail.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(g->d.rfc822Name)),
                            static_cast<std::size_t>(ASN1_STRING_length(g->d.rfc822Name)));
        }
        GENERAL_NAMES_free(names);
        if (!mail.empty()) return one_line(mail);
    }
    if (X509_NAME_entry_count(name) > 0) return entry_text(X509_NAME_get_entry(name, 0));
    return {};
}

std::string time_text(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%H:%M:%S %d %b %Y", &tm);
    return std::string(buf, n);
}

const nettle_hash* hash_for(int nid) {
    switch (nid) {
        case NID_md2: return &nettle_md2;
        case NID_md5: return &nettle_md5;
        case NID_sha1: return &nettle_sha1;
        case NID_sha224: return &nettle_sha224;
        case NID_sha256: return &nettle_sha256;
        case NID_sha384: return &nettle_sha384;
        case NID_sha512: return &nettle_sha512;
        default: return nullptr;
    }
}

// The digest that a combined signature algorithm names, or NID_undef for plain rsaEncryption.
bool rsa_signature_algorithm(int nid, int& digest_nid) {
    if (nid == NID_rsaEncryption) {
        digest_nid = NID_undef;
        return true;
    }
    int pkey = NID_undef;
    return OBJ_find_sigid_algs(nid, &digest_nid, &pkey) && pkey == NID_rsaEncryption;
}

// Algorithm parameters are absent or NULL for every algorithm read here.
bool plain_parameters(const X509_ALGOR* alg) {
    int type = V_ASN1_UNDEF;
    const void* value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, alg);
    return type == V_ASN1_UNDEF || type == V_ASN1_NULL;
}

std::array<std::uint8_t, MD5_DIGEST_SIZE> envelope_key() {
    std::array<std::uint8_t, MD5_DIGEST_SIZE> key{};
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, kEnvelopePassPhrase.size(), bytes_of(kEnvelopePassPhrase));
    md5_digest(&ctx, key.size(), key.data());
    return key;
}

void rc4(std::string_view in, char* out) {
    static const auto key = envelope_key();
    arcfour_ctx ctx;
    arcfour_set_key(&ctx, key.size(), key.data());
    arcfour_crypt(&ctx, in.size(), reinterpret_cast<std::uint8_t*>(out), bytes_of(in));
}

// PKCS#1 v1.5: the signature, opened with the public key, is the DigestInfo of `expected`.
bool rsa_signature_matches(EVP_PKEY* key, const unsigned char* sig, std::size_t sig_size, int digest_nid,
                           std::string_view expected) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t n = static_cast<std::size_t>(EVP_PKEY_get_size(key));
    std::string recovered(n, '\0');
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(recovered.data()), &n, sig, sig_size) <= 0)
        return false;
    recovered.resize(n);
    const unsigned char* p = bytes_of(recovered);
    X509SigPtr info(d2i_X509_SIG(nullptr, &p, static_cast<long>(recovered.size())));
    if (!info || p != bytes_of(recovered) + recovered.size()) return false;
    const X509_ALGOR* alg = nullptr;
    const ASN1_OCTET_STRING* got = nullptr;
    X509_SIG_get0(info.get(), &alg, &got);
    return OBJ_obj2nid(alg->algorithm) == digest_nid && plain_parameters(alg) &&
           static_cast<std::size_t>(ASN1_STRING_length(got)) == expected.size() &&
           std::memcmp(ASN1_STRING_get0_data(got), expected.data(), expected.size()) == 0;
}

// True only when the certificate's signature is checkable (RSA with a digest read here, the
// issuer's certificate in the message) and wrong. Nothing is said about trust. A certificate
// issued under its own name is checked with its own key, unless one of `known` (the site's
// authorities) of that name signed it: an authority may give a signer its own name.
bool certificate_damaged(PKCS7_SIGNED* sd, X509* cert, const std::vector<Certificate>& known) {
    const ASN1_BIT_STRING* sig = nullptr;
    const X509_ALGOR* alg = nullptr;
    X509_get0_signature(&sig, &alg, cert);
    // The algorithm is named twice, once inside the signed part; they must agree.
    const X509_ALGOR* inner = X509_get0_tbs_sigalg(cert);
    if (!alg || !inner || OBJ_cmp(alg->algorithm, inner->algorithm) != 0) return true;
    // A signature is whole bytes: unused bits would be left out of the check below.
    if (sig && (sig->flags & ASN1_STRING_FLAG_BITS_LEFT) && (sig->flags & 7)) return true;
    int digest_nid = NID_undef;
    if (!alg || !sig || !rsa_signature_algorithm(OBJ_obj2nid(alg->algorithm), digest_nid) || digest_nid == NID_undef ||
        !hash_for(digest_nid))
        return false;
    X509* issuer = nullptr;
    for (int i = 0; i < sk_X509_num(sd->cert) && !issuer; ++i) {
        X509* c = sk_X509_value(sd->cert, i);
        if (X509_NAME_cmp(X509_get_subject_name(c), X509_get_issuer_name(cert)) == 0) issuer = c;
    }
    // A certificate whose issuer is shown by the same name as its subject is taken as
    // self-signed, so that a changed part of a name that is not shown is noticed as well.
    if (!issuer && simple_name(cert, X509_get_issuer_name(cert), NID_issuer_alt_name) ==
                       simple_name(cert, X509_get_subject_name(cert), NID_subject_alt_name))
        issuer = cert;
    EVP_PKEY* key = issuer ? X509_get0_pubkey(issuer) : nullptr;
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return false;
    // The signed part as it was read (OpenSSL keeps its encoding): the first element inside.
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    if (n <= 0) return false;
    OsslBytes owned(der);
    const unsigned char* p = der;
    long len = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &len, &tag, &cls, n) != V_ASN1_CONSTRUCTED) return false;
    const unsigned char* tbs = p;
    if (ASN1_get_object(&p, &len, &tag, &cls, n - (p - der)) != V_ASN1_CONSTRUCTED) return false;
    const auto d = digest(digest_nid, std::string_view(reinterpret_cast<const char*>(tbs),
                                                       static_cast<std::size_t>(p - tbs + len)));
    const auto signed_by = [&](EVP_PKEY* k) {
        return k && EVP_PKEY_get_base_id(k) == EVP_PKEY_RSA && plain_parameters(alg) &&
               rsa_signature_matches(k, ASN1_STRING_get0_data(sig), static_cast<std::size_t>(ASN1_STRING_length(sig)),
                                     digest_nid, *d);
    };
    if (signed_by(key)) return false;
    if (issuer == cert)
        for (const Certificate& c : known)
            if (!c.empty() && X509_NAME_cmp(X509_get_subject_name(c.x509()), X509_get_issuer_name(cert)) == 0 &&
                signed_by(X509_get0_pubkey(c.x509())))
                return false;
    return true;
}

Error verify_error(const char* why) { return fail(kErrMessage, with_text(kVerifyFailedText, why)); }

// Checks one SignerInfo against its certificate; the certificate on success.
Result<Certificate> verify_signer(PKCS7_SIGNED* sd, PKCS7_SIGNER_INFO* si, std::string_view content,
                                  const std::vector<Certificate>& known) {
    if (ASN1_INTEGER_get(si->version) != 1 || !si->issuer_and_serial)
        return verify_error("the signer is not named by issuer and serial number");
    X509* cert = X509_find_by_issuer_and_serial(sd->cert, si->issuer_and_serial->issuer, si->issuer_and_serial->serial);
    if (!cert) return fail(kErrMessage, kSignerNotFoundText);
    if (simple_name(cert, X509_get_subject_name(cert), NID_subject_alt_name).empty())
        return fail(kErrMessage, with_text(kSignerNameFailedText, "the certificate names no one"));

    const int digest_nid = OBJ_obj2nid(si->digest_alg->algorithm);
    if (!hash_for(digest_nid) || !plain_parameters(si->digest_alg))
        return verify_error("the digest algorithm is not supported");
    bool listed = false;
    for (int i = 0; i < sk_X509_ALGOR_num(sd->md_algs) && !listed; ++i)
        listed = OBJ_obj2nid(sk_X509_ALGOR_value(sd->md_algs, i)->algorithm) == digest_nid &&
                 plain_parameters(sk_X509_ALGOR_value(sd->md_algs, i));
    if (!listed) return verify_error("the signer's digest algorithm is not listed in the message");
    int named_digest = NID_undef;
    if (!rsa_signature_algorithm(OBJ_obj2nid(si->digest_enc_alg->algorithm), named_digest) ||
        (named_digest != NID_undef && named_digest != digest_nid) || !plain_parameters(si->digest_enc_alg))
        return verify_error("the signature algorithm is not supported");

    std::string signed_bytes;
    const bool has_attributes = sk_X509_ATTRIBUTE_num(si->auth_attr) > 0;
    if (has_attributes) {
        // With signed attributes the signature covers them, and they hold the content's digest.
        ASN1_TYPE* type = PKCS7_get_signed_attribute(si, NID_pkcs9_contentType);
        if (!type || type->type != V_ASN1_OBJECT || OBJ_obj2nid(type->value.object) != NID_pkcs7_data)
            return verify_error("the signed attributes name no content type, or another one");
        ASN1_OCTET_STRING* expected = PKCS7_digest_from_attributes(si->auth_attr);
        const auto d = digest(digest_nid, content);
        if (!expected || !d || static_cast<std::size_t>(ASN1_STRING_length(expected)) != d->size() ||
            std::memcmp(ASN1_STRING_get0_data(expected), d->data(), d->size()) != 0)
            return verify_error("The hash value is not correct.");
        unsigned char* der = nullptr;
        const int n =
            ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(si->auth_attr), &der, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
        if (n <= 0) return verify_error("the signed attributes cannot be encoded");
        OsslBytes owned(der);
        signed_bytes.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(n));
    }
    const auto d = digest(digest_nid, has_attributes ? std::string_view(signed_bytes) : content);

    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return verify_error("the signer's key is not an RSA key");
    if (!d || !rsa_signature_matches(key, ASN1_STRING_get0_data(si->enc_digest),
                                     static_cast<std::size_t>(ASN1_STRING_length(si->enc_digest)), digest_nid, *d))
        return verify_error("The hash value is not correct.");
    // The certificate's own bytes are covered where its issuer is at hand (always when it is
    // self-signed): a damaged certificate is refused, not shown as the signer.
    if (certificate_damaged(sd, cert, known)) return verify_error("the signer's certificate is damaged");
    return Certificate(cert, nullptr);
}

}  // namespace

std::string with_text(const char* format, std::string_view text) {
    std::string out = format;
    if (const auto at = out.find("%s"); at != std::string::npos) out.replace(at, 2, text);
    return out;
}

Certificate::Certificate(x509_st* cert, evp_pkey_st* key) {
    if (cert && X509_up_ref(cert) == 1) cert_.reset(cert, X509_free);
    if (key && EVP_PKEY_up_ref(key) == 1) key_.reset(key, EVP_PKEY_free);
}

std::string Certificate::subject_name() const {
    return cert_ ? simple_name(cert_.get(), X509_get_subject_name(cert_.get()), NID_subject_alt_name) : std::string();
}

std::string Certificate::issuer_name() const {
    return cert_ ? simple_name(cert_.get(), X509_get_issuer_name(cert_.get()), NID_issuer_alt_name) : std::string();
}

std::string Certificate::valid_from_text() const {
    return cert_ ? time_text(X509_get0_notBefore(cert_.get())) : std::string();
}

std::string Certificate::valid_to_text() const {
    return cert_ ? time_text(X509_get0_notAfter(cert_.get())) : std::string();
}

std::optional<std::int64_t> Certificate::not_after() const {
    std::tm tm{};
    if (!cert_ || ASN1_TIME_to_tm(X509_get0_notAfter(cert_.get()), &tm) != 1) return std::nullopt;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::string Certificate::fingerprint() const {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert_ || X509_digest(cert_.get(), EVP_sha256(), md, &n) != 1) return {};
    return hex(md, n, false);
}

bool Certificate::is_recovery_certificate() const {
    if (!cert_) return false;
    auto* usage = static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert_.get(), NID_ext_key_usage, nullptr, nullptr));
    if (!usage) return false;
    bool found = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage) && !found; ++i) {
        char text[80];
        const int n = OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(usage, i), 1);
        found = n > 0 && std::strcmp(text, "1.3.6.1.4.1.311.10.3.4.1") == 0;
    }
    EXTENDED_KEY_USAGE_free(usage);
    return found;
}

Result<void> fill_certificate_fields(SignatureRecord& record) {
    const Certificate& c = record.certificate;
    std::string issuer = c.issuer_name(), subject = c.subject_name();
    if (c.empty() || issuer.empty() || subject.empty())
        return fail(kErrNoKey, with_text(kCertificateNotFoundText,
                                         c.empty() ? "no certificate was chosen" : "the certificate names no one"));
    record.issued_by = std::move(issuer);
    record.issued_to = std::move(subject);
    record.valid_from = c.valid_from_text();
    record.valid_to = c.valid_to_text();
    record.fingerprint = c.fingerprint();
    return {};
}

std::string encrypt_envelope(std::string_view plain) {
    std::string out;
    out.reserve(4 + plain.size());
    append_le32(out, 0);
    out.resize(4 + plain.size());
    rc4(plain, out.data() + 4);
    return out;
}

Result<std::string> decrypt_envelope(std::string_view envelope) {
    if (envelope.size() < 4) return fail(kErrEnvelope);
    const std::uint32_t blob = load_le32(bytes_of(envelope));
    if (blob > kMaxKeyBlobSize || blob > envelope.size() - 4) return fail(kErrEnvelope);
    std::string_view cipher = envelope.substr(4 + blob);
    std::string out(cipher.size(), '\0');
    rc4(cipher, out.data());
    return out;
}

std::optional<std::string> digest(int nid, std::string_view data) {
    const nettle_hash* h = hash_for(nid);
    if (!h) return std::nullopt;
    std::vector<std::max_align_t> ctx((h->context_size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    h->init(ctx.data());
    h->update(ctx.data(), data.size(), bytes_of(data));
    std::string out(h->digest_size, '\0');
    h->digest(ctx.data(), h->digest_size, reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
}

std::string encode_digest_info(int nid, std::string_view digest) {
    X509SigPtr sig(X509_SIG_new());
    X509_ALGOR* alg = nullptr;
    ASN1_OCTET_STRING* value = nullptr;
    if (!sig) return {};
    X509_SIG_getm(sig.get(), &alg, &value);
    if (!X509_ALGOR_set0(alg, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr) ||
        !ASN1_OCTET_STRING_set(value, bytes_of(digest), static_cast<int>(digest.size())))
        return {};
    unsigned char* der = nullptr;
    const int n = i2d_X509_SIG(sig.get(), &der);
    if (n <= 0) return {};
    OsslBytes owned(der);
    return std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(n));
}

Result<std::string> sign_message(const Certificate& signer, std::string_view data) {
    if (signer.empty() || !signer.has_private_key())
        return fail(kErrNoKey, with_text(kSigningFailedText, "there is no private key for this certificate"));
    EVP_PKEY* key = signer.private_key();
    X509* cert = signer.x509();
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || X509_check_private_key(cert, key) != 1)
        return fail(kErrNoKey, with_text(kSigningFailedText, "the private key is no RSA key of this certificate"));

    const std::string info = encode_digest_info(NID_md2, *digest(NID_md2, data));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t n = 0;
    if (info.empty() || !ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &n, bytes_of(info), info.size()) <= 0)
        return fail(kErrSign, with_text(kSigningFailedText, "the RSA key cannot sign"));
    std::string signature(n, '\0');
    if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &n, bytes_of(info), info.size()) <=
        0)
        return fail(kErrSign, with_text(kSigningFailedText, "the RSA key cannot sign"));
    signature.resize(n);

    Pkcs7Ptr p7(PKCS7_new());
    bool ok = p7 && PKCS7_set_type(p7.get(), NID_pkcs7_signed) && PKCS7_content_new(p7.get(), NID_pkcs7_data) &&
              ASN1_OCTET_STRING_set(p7->d.sign->contents->d.data, bytes_of(data), static_cast<int>(data.size())) &&
              PKCS7_add_certificate(p7.get(), cert);
    PKCS7_SIGNER_INFO* si = ok ? PKCS7_SIGNER_INFO_new() : nullptr;
    ok = si && ASN1_INTEGER_set(si->version, 1) &&
         X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(cert));
    if (ok) {
        ASN1_INTEGER* serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert));
        ok = serial != nullptr;
        if (ok) {
            ASN1_INTEGER_free(si->issuer_and_serial->serial);
            si->issuer_and_serial->serial = serial;
        }
    }
    ok = ok && X509_ALGOR_set0(si->digest_alg, OBJ_nid2obj(NID_md2), V_ASN1_NULL, nullptr) &&
         X509_ALGOR_set0(si->digest_enc_alg, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr) &&
         ASN1_STRING_set(si->enc_digest, signature.data(), static_cast<int>(signature.size()));
    if (ok && PKCS7_add_signer(p7.get(), si))
        si = nullptr;  // the message owns it now
    else
        ok = false;
    if (si) PKCS7_SIGNER_INFO_free(si);
    unsigned char* der = nullptr;
    const int len = ok ? i2d_PKCS7(p7.get(), &der) : 0;
    if (len <= 0) return fail(kErrSign, with_text(kSigningFailedText, "the message cannot be encoded"));
    OsslBytes owned(der);
    return std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(len));
}

Result<std::string> sign(const Certificate& signer, std::string_view data) {
    auto message = sign_message(signer, data);
    if (!message) return message.error();
    return encrypt_envelope(*message);
}

Result<VerifiedMessage> verify_message(std::string_view message, const std::vector<Certificate>& known_issuers) {
    const unsigned char* p = bytes_of(message);
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(message.size())));
    if (!p7 || p != bytes_of(message) + message.size())
        return fail(kErrMessage, with_text(kDecodeFailedText, "the data is not a PKCS #7 message"));
    if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign || ASN1_INTEGER_get(p7->d.sign->version) != 1)
        return fail(kErrMessage, with_text(kDecodeFailedText, "the message is not signed data"));
    PKCS7_SIGNED* sd = p7->d.sign;
    PKCS7* inner = sd->contents;
    if (!inner || !PKCS7_type_is_data(inner) || !inner->d.data)
        return fail(kErrMessage, with_text(kContentFailedText, "the message holds no data"));
    VerifiedMessage out;
    out.content.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(inner->d.data)),
                       static_cast<std::size_t>(ASN1_STRING_length(inner->d.data)));
    // A message without a signer proves nothing; it is not taken as verified.
    if (sk_PKCS7_SIGNER_INFO_num(sd->signer_info) <= 0) return verify_error("the message has no signer");
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(sd->signer_info); ++i) {
        auto signer = verify_signer(sd, sk_PKCS7_SIGNER_INFO_value(sd->signer_info, i), out.content, known_issuers);
        if (!signer) return signer.error();
        out.signers.push_back(std::move(*signer));
    }
    for (int i = 0; i < sk_X509_num(sd->cert); ++i) out.certificates.emplace_back(sk_X509_value(sd->cert, i), nullptr);
    return out;
}

Result<VerifiedMessage> verify(std::string_view envelope, const std::vector<Certificate>& known_issuers) {
    auto message = decrypt_envelope(envelope);
    if (!message) return message.error();
    return verify_message(*message, known_issuers);
}

namespace {

// The certificate and key of a PKCS#12 file that `password` opens (its MAC checks out and its
// bags decrypt); empty otherwise. A wrong password leaves nothing on OpenSSL's error queue.
// `problem` says why when the password is right (the MAC checks out) but the file does not read.
Certificate open_pkcs12(PKCS12* p12, const char* password, std::string& problem) {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    Certificate out;
    if (PKCS12_parse(p12, password, &key, &cert, &chain) == 1 && cert) {
        out = Certificate(cert, key);
    } else {
        const unsigned long e = ERR_peek_last_error();
        const bool right =
            PKCS12_mac_present(p12) && (PKCS12_verify_mac(p12, password, -1) == 1 ||
                                        (password && !*password && PKCS12_verify_mac(p12, nullptr, 0) == 1));
        if (right)
            problem = e ? std::string("its contents are protected in a way this system cannot read (") +
                              ERR_reason_error_string(e) + ")"
                        : "it holds no certificate with its key";
    }
    ERR_clear_error();
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_X509_pop_free(chain, X509_free);
    return out;
}

}  // namespace

// Loading a provider by name stops OpenSSL from loading the default one of itself, so both are.
// Without the legacy one (RC2 and 3DES of older PKCS#12 files) such files say why they do not
// read. Held until exit, let go before OpenSSL's own clean-up (made after it was set up).
void load_providers() {
    struct Providers {
        OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        Providers() { ERR_clear_error(); }
        ~Providers() {
            if (legacy) OSSL_PROVIDER_unload(legacy);
            if (standard) OSSL_PROVIDER_unload(standard);
        }
    };
    static const Providers providers;
}

Crypto::Crypto(platform::CertStore& store) {
    load_providers();
    auto entries = store.entries();
    if (!entries) {
        valid_ = false;
        error_ = fail(kErrStore, with_text(kStoreErrorText, "the personal certificate folder cannot be read"));
        return;
    }
    for (auto& e : *entries) {
        const unsigned char* p = bytes_of(e.bytes);
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(e.bytes.size())));
        if (!p12) continue;
        // PKCS12_parse tries both empty passwords (none and "") that tools write.
        std::string problem;
        Certificate opened = open_pkcs12(p12.get(), "", problem);
        if (!opened.empty())
            entries_.push_back({e.name, {}, std::move(opened), {}});
        else
            entries_.push_back({e.name, std::move(e.bytes), {}, std::move(problem)});
    }
}

std::size_t Crypto::unlock(const std::string& password) {
    if (password.empty()) return 0;
    std::size_t opened = 0;
    for (Entry& e : entries_) {
        if (!e.certificate.empty()) continue;
        const unsigned char* p = bytes_of(e.locked);
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(e.locked.size())));
        if (!p12) continue;
        e.certificate = open_pkcs12(p12.get(), password.c_str(), e.problem);
        if (e.certificate.empty()) continue;
        e.locked.clear();
        e.problem.clear();
        ++opened;
    }
    return opened;
}

std::string Crypto::locked_text() const {
    std::string text;
    for (const Entry& e : entries_) {
        if (!e.certificate.empty()) continue;
        if (!e.problem.empty()) {
            std::string t = kUnreadableCertificateText;
            const std::string name = platform::utf8_to_cp1252(e.name);
            const std::size_t first = t.find("%s");
            t.replace(first, 2, name);
            return t.replace(t.find("%s", first + name.size()), 2, e.problem);
        }
        text = kLockedCertificatesText;
    }
    return text;
}

std::vector<SignatureRecord> Crypto::list_certificates() const {
    std::vector<SignatureRecord> out;
    for (const Entry& e : entries_) {
        const Certificate& c = e.certificate;
        if (c.empty() || c.is_recovery_certificate()) continue;
        SignatureRecord r;
        r.certificate = c;
        if (fill_certificate_fields(r)) out.push_back(std::move(r));
    }
    return out;
}

Certificate Crypto::find_certificate(std::string_view fingerprint) const {
    for (const Entry& e : entries_)
        if (!fingerprint.empty() && !e.certificate.empty() && e.certificate.fingerprint() == fingerprint)
            return e.certificate;
    return {};
}

}  // namespace tv::signing
