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

// Ok when `signer` chains to the trust store in `trust_folder` with `carried` as intermediates and
// was valid at `when` (seconds since 1970); else kErrUntrusted with a sentence for the user, e.g.
// "the certificate of "X" was not issued by an authority that this site trusts".
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         const std::string& trust_folder);
// The certificates of the site's trust store, as check_trust reads them.
std::vector<Certificate> trusted_certificates();
// The same with the site's trust store.
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when);

}  // namespace tv::signing
