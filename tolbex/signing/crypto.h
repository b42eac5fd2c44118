// The one place that touches cryptography for signed reports. Certificates come from the user's
// store (platform/cert_store.h: PKCS#12 files with their private keys); messages are PKCS#7
// SignedData; the envelope around them is RC4 under a key every installation derives from one
// published pass phrase, so it hides nothing and only keeps the file format that peers read.
//
// Written: DER SignedData, content type data, one SignerInfo (issuer and serial, MD2 with
// rsaEncryption, no signed attributes), exactly the signer's certificate, no CRLs. MD2 is what
// older peers check. OpenSSL 3 has no MD2, so the SignerInfo is built and checked here: the
// digests come from nettle and the RSA step is PKCS#1 v1.5 over a DigestInfo encoded here.
// Read: DER or BER; MD2, MD5, SHA-1 and SHA-2; signers found by issuer and serial among the
// message's own certificates; signed attributes present or absent. Only the signature is checked
// here; whether the site trusts the signer is trust.h's question.
//
// Nothing here shows a message: failures come back as an Error whose text is the one the user
// is shown ("Signing failed : %s" ...), or an empty text where nothing is to be shown.
#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/cert_store.h"

struct x509_st;
struct evp_pkey_st;

namespace tv::signing {

// Error codes of this library (Error::code).
inline constexpr int kErrStore = 1;         // the certificate store cannot be read
inline constexpr int kErrNoKey = 2;         // no certificate chosen, or it has no private key
inline constexpr int kErrSign = 3;          // the signature could not be made
inline constexpr int kErrEnvelope = 4;      // the envelope is cut short (no text is shown)
inline constexpr int kErrMessage = 5;       // the signed message does not verify
inline constexpr int kErrInvalid = 6;       // the signed content is not valid
inline constexpr int kErrFile = 7;          // "Serious file error : %s"
inline constexpr int kErrReportType = 8;    // "Unable to sign this report type"
inline constexpr int kErrSignerCount = 9;   // headers and signers differ in number
inline constexpr int kErrVersion = 10;      // a content version this system does not read (no text)
inline constexpr int kErrFileName = 11;     // a file name that a signed report cannot hold
inline constexpr int kErrStoreReport = 12;  // the signed report could not be stored (see store_result)

// Texts the user is shown.
inline constexpr const char* kStoreErrorText = "Error getting certificate store handle : %s";
inline constexpr const char* kSigningFailedText = "Signing failed : %s";
inline constexpr const char* kDecodeFailedText = "CryptMsgUpdate() failed : %s";
inline constexpr const char* kContentFailedText = "Getting the verified blob length failed : %s";
inline constexpr const char* kSignerNotFoundText =
    "There was an error reading the name of the message signer from the certificate store.";
inline constexpr const char* kSignerNameFailedText = "Getting the signer's name failed : %s";
inline constexpr const char* kVerifyFailedText = "CryptMsgControl( ... CMSG_CTRL_VERIFY_SIGNATURE ... ) failed : %s";
inline constexpr const char* kCertificateNotFoundText = "Failed to find certificate in the store : %s";

// `format` (one of the texts here) with its "%s" replaced by `text`.
std::string with_text(const char* format, std::string_view text);

// The pass phrase every envelope's key is derived from (MD5 of its 22 bytes, as a 128-bit RC4 key).
inline constexpr std::string_view kEnvelopePassPhrase = "the green ladder sings";
// A reader refuses a key blob longer than this.
inline constexpr std::uint32_t kMaxKeyBlobSize = 10000;

// A shared reference to an X.509 certificate, with its private key when the store holds one.
// Copies share; the last one frees.
class Certificate {
public:
    Certificate() = default;
    // Takes a reference of its own to each (either may be null).
    Certificate(x509_st* cert, evp_pkey_st* key);

    bool empty() const { return !cert_; }
    x509_st* x509() const { return cert_.get(); }
    evp_pkey_st* private_key() const { return key_.get(); }
    bool has_private_key() const { return static_cast<bool>(key_); }

    // Simple display names (common name, else unit, organisation, e-mail, else the first part of
    // the name) as one line of Windows-1252 text, control characters escaped; empty when the name
    // holds none.
    std::string subject_name() const;
    std::string issuer_name() const;
    // NotBefore / NotAfter as "%H:%M:%S %d %b %Y" (UTC, C-locale month); empty when unreadable.
    std::string valid_from_text() const;
    std::string valid_to_text() const;
    // NotAfter in seconds since 1970 (UTC); nullopt when unreadable.
    std::optional<std::int64_t> not_after() const;
    // SHA-256 of the DER certificate as lower-case hex: what identifies a certificate in a list
    // (two certificates may share a serial, or the text shown for them).
    std::string fingerprint() const;
    // The certificate's extended key usage lists File Recovery (1.3.6.1.4.1.311.10.3.4.1).
    bool is_recovery_certificate() const;

private:
    std::shared_ptr<x509_st> cert_;
    std::shared_ptr<evp_pkey_st> key_;
};

enum class SignedReportKind : std::uint32_t { Formatted = 0, TimiData = 1, TimiSummary = 2 };

inline constexpr std::uint32_t kTimeValid = 0, kTimeInvalid = 1, kTimeNull = 2;

// One signature, or one certificate offered for signing.
struct SignatureRecord {
    std::uint32_t version = 1;  // of the signed content; not stored in the header
    std::uint32_t kind = 0;     // SignedReportKind
    double signing_time = 0;    // OLE date, local time
    std::uint32_t signing_time_status = kTimeNull;
    std::string signer_name;    // full account name
    std::uint32_t meaning = 0;  // 0 reviewed, 1 approved
    std::string logon_name;
    std::string system_name;
    std::string reserved;  // always written empty
    std::string issued_to, issued_by, valid_from, valid_to;
    Certificate certificate;
    std::string fingerprint;  // of the certificate, filled with the fields
    // Set by verification only: the signer chains to the site's trust store, was valid when it
    // signed, and the header agrees with its certificate; else `problem` says why not.
    bool verified = false;
    std::string problem;
};

// Sets issued to / by, valid from / to and the fingerprint from the record's certificate; an
// Error (kCertificateNotFoundText) when it has none or its names are empty.
Result<void> fill_certificate_fields(SignatureRecord& record);

// The envelope: u32 key-blob length L, L bytes of key blob, then the RC4 stream of the input.
// The blob is never read by any reader (each derives the key from the pass phrase again); it is
// written empty, so that every byte of a signed file is covered by the signature inside.
std::string encrypt_envelope(std::string_view plain);
// kErrEnvelope (no text) when L exceeds kMaxKeyBlobSize or the data is shorter than 4 + L.
Result<std::string> decrypt_envelope(std::string_view envelope);

struct VerifiedMessage {
    std::string content;
    std::vector<Certificate> signers;       // in SignerInfo order
    std::vector<Certificate> certificates;  // every certificate the message carries (chains)
};

// Makes the DER SignedData of `data` signed with `signer` (which needs its private key).
Result<std::string> sign_message(const Certificate& signer, std::string_view data);
// sign_message, then the envelope.
Result<std::string> sign(const Certificate& signer, std::string_view data);
// Checks every signer's signature; the content and the signers' certificates on success. A
// signer's certificate issued under its own name counts as damaged unless its own key or one of
// `known_issuers` (the site's authorities) of that name signed it.
Result<VerifiedMessage> verify_message(std::string_view message, const std::vector<Certificate>& known_issuers = {});
// decrypt_envelope, then verify_message.
Result<VerifiedMessage> verify(std::string_view envelope, const std::vector<Certificate>& known_issuers = {});

inline constexpr const char* kLockedCertificatesText =
    "Certificates protected by another password than your logon password are not listed.";
inline constexpr const char* kUnreadableCertificateText = "The certificate file %s cannot be read: %s.";

// The user's certificates for one command. A PKCS#12 file without a password opens at once; one
// that needs a password stays locked until unlock() is given it (the logon password). Entries
// that are no PKCS#12 file are left out. Files of the older kind (RC2, 3DES) are read through
// OpenSSL's legacy provider, loaded with the first Crypto.
class Crypto {
public:
    explicit Crypto(platform::CertStore& store = platform::cert_store());

    // False when the store could not be read; error() then says so (kStoreErrorText).
    bool valid() const { return valid_; }
    const Error& error() const { return error_; }

    // Opens the locked entries that `password` (UTF-8, as typed) opens; how many it opened. The
    // password is not kept: OpenSSL wipes what it derives from it, the caller wipes its own copy.
    std::size_t unlock(const std::string& password);
    // What the choice of certificates says of the locked entries: empty when none is locked,
    // kUnreadableCertificateText for one that the password opens but that cannot be read,
    // else kLockedCertificatesText.
    std::string locked_text() const;

    // The store's opened certificates in its order, File Recovery ones left out, fields filled.
    std::vector<SignatureRecord> list_certificates() const;
    // The opened certificate with that fingerprint, or an empty one.
    Certificate find_certificate(std::string_view fingerprint) const;

private:
    struct Entry {
        std::string name;
        std::string locked;       // the PKCS#12 bytes while no password has opened them
        Certificate certificate;  // once opened
        std::string problem;      // why the password that opens it did not read it
    };
    std::vector<Entry> entries_;
    bool valid_ = true;
    Error error_;
};

// A digest by its OpenSSL NID (md2, md5, sha1, sha224, sha256, sha384, sha512); nullopt for others.
std::optional<std::string> digest(int nid, std::string_view data);
// DER DigestInfo { algorithm with NULL parameters, digest }.
std::string encode_digest_info(int nid, std::string_view digest);

}  // namespace tv::signing
