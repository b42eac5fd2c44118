// Whether the site trusts a signature's signer. The site's trust store is a folder that an
// administrator keeps (platform::trust_store_dir(): /etc/torvane/trust, owned by root): one file
// per certificate of a certification authority or of a signer, PEM (several per file allowed) or
// DER. A signer is trusted when OpenSSL builds a chain from its certificate, through the
// certificates the signed message carries, to one of those, and every certificate of the chain
// was valid at the time the report was signed, each certificate fit for signing purposes. A folder
// or file that an account other than root could change is not read (with an event-log entry), and
// outside a relocated root (TORVANE_ROOT) neither is a store whose path others could change; in a
// relocated root the account running the program may own them too, the store is reached from the
// root one folder at a time, and a link anywhere below the root counts as kept by someone else.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "tolbex/signing/crypto.h"

namespace tv::signing {

inline constexpr int kErrUntrusted = 20;  // the signer is not trusted (the text says why)
// The event (a warning of source "tolbex") when a trust store, or a file in it, is not read
// because someone other than root (or the account running the program, in a relocated root)
// owns it or could write it.
inline constexpr int kEventTrustStoreIgnored = 40;

// Why `certificate` is not meant for signing, empty when it is: OpenSSL's signing purpose
// (keyUsage, where present, with digitalSignature or nonRepudiation; extendedKeyUsage, where
// present, with emailProtection or anyExtendedKeyUsage).
std::string signing_purpose_problem(const Certificate& certificate);

// Whether `when` is the time a report was signed, or the moment a signature is about to be made
// (the texts differ: "had expired when the report was signed", "has expired").
enum class TrustMoment { WhenSigned, Now };

// Ok when `signer` chains to the trust store in `trust_folder` with `carried` as intermediates,
// was valid at `when` (seconds since 1970) and every certificate of the chain meets OpenSSL's
// security level 1 (no key under 80 bits of strength, such as RSA under 1024 bits; no certificate
// signed with MD5 or SHA-1); else kErrUntrusted with a sentence for the user, e.g. "the
// certificate of "X" was not issued by an authority that this site trusts".
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         const std::string& trust_folder, TrustMoment moment = TrustMoment::WhenSigned);
// The certificates of the site's trust store, as check_trust reads them.
std::vector<Certificate> trusted_certificates();
// The same with the site's trust store.
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         TrustMoment moment = TrustMoment::WhenSigned);

// Shown when a certificate is not used to sign ("%s": why).
inline constexpr const char* kNotForSigningText = "The report cannot be signed with this certificate: %s.";
// Why a report signed with `certificate` at `now` would not verify, empty when it would: not meant
// for signing, or not trusted at this moment. A signed report carries the signer's certificate
// only, so an intermediate authority counts only when the trust store holds it.
std::string signing_refusal(const Certificate& certificate, std::int64_t now);

}  // namespace tv::signing
