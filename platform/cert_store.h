// The user's personal certificate store: PKCS#12 files ("*.p12" or "*.pfx", each a certificate
// with its private key, protected by the user's logon password or by none) in one private folder
// per user, <user_dir>/certificates (so $TORVANE_ROOT/user/certificates in tests). This layer only
// keeps the files; reading and unlocking them is the signing library's business. A site adds a
// user's certificate with
//   openssl pkcs12 -export -in cert.pem -inkey key.pem -name "Dr A Smith"
//       -passout 'pass:<logon password>' -out <folder>/<name>.p12
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::platform {

struct StoredCertificate {
    std::string name;   // the file name, e.g. "smith.p12"
    std::string bytes;  // the PKCS#12 data as stored
};

// Files larger than this are not certificates and are left out of the listing.
inline constexpr std::size_t kMaxStoredCertificateSize = 1 << 20;

class CertStore {
public:
    virtual ~CertStore() = default;
    // The entries in name order (the store's enumeration order). A missing folder is an empty
    // store; nullopt when the folder exists but cannot be read.
    virtual std::optional<std::vector<StoredCertificate>> entries() = 0;
    // Adds or replaces an entry, readable by the user only; false on failure or when `name` is
    // not one plain component ending in ".p12" or ".pfx".
    virtual bool put(const std::string& name, std::string_view bytes) = 0;
};

// <user_dir>/certificates.
std::string cert_store_dir();
// The store in `folder` (empty: cert_store_dir() at each call), created with mode 0700 on put.
std::unique_ptr<CertStore> make_folder_cert_store(const std::string& folder);
// An in-memory store for tests.
std::unique_ptr<CertStore> make_memory_cert_store();

// The process-wide store: the folder store, unless replaced.
CertStore& cert_store();
// Replaces it (tests); nullptr restores the folder store. Call at set-up only.
void set_cert_store(CertStore* s);

}  // namespace tv::platform
