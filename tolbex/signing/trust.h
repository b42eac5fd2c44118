// Whether the site trusts a signature's signer. The site's trust store is a folder that an
// administrator keeps (platform::trust_store_dir(): /etc/torvane/trust, owned by root): one file
// per certificate of a certification authority or of a signer, PEM (several per file allowed) or
// DER. A signer is trusted when OpenSSL builds a chain from its certificate, through the
// certificates the signed message carries, to one of those, and every certificate of the chain
// was valid at the time the report was signed. Outside a relocated root (TORVANE_ROOT), a folder
// or file that an account other than root could change is not read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "tolbex/signing/crypto.h"

namespace tv::signing {

inline constexpr int kErrUntrusted = 20;  // the signer is not trusted (the text says why)

// Ok when `signer` chains to the trust store in `trust_folder` with `carried` as intermediates and
// was valid at `when` (seconds since 1970); else kErrUntrusted with a sentence for the user, e.g.
// "the certificate of "X" was not issued by an authority that this site trusts".
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         const std::string& trust_folder);
// The same with the site's trust store.
Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when);

}  // namespace tv::signing
