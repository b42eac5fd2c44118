#include "tolbex/signing/trust.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "tolbex/signing/openssl_handles.h"

namespace tv::signing {

namespace {

// Only root may change what a real installation trusts; a relocated root is a test's or demo's.
bool kept_by_root(const struct stat& st) {
    if (!platform::root().empty()) return true;
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Adds every certificate of one file (PEM, else DER) to `store`.
void add_file(X509_STORE* store, int folder, const char* name) {
    platform::UniqueFd fd(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !kept_by_root(st) || st.st_size > (1 << 20))
        return;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!platform::pread_all(fd.get(), bytes.data(), bytes.size(), 0)) return;
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    int added = 0;
    while (X509Ptr x{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        X509_STORE_add_cert(store, x.get());
        ++added;
    }
    if (added == 0) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509Ptr x{d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))}) X509_STORE_add_cert(store, x.get());
    }
}

X509StorePtr load_store(const std::string& folder) {
    X509StorePtr store(X509_STORE_new());
    platform::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    // The path as well as the folder: with a folder on the way that others may write, the trust
    // folder could be swapped for another one.
    if (!store || (platform::root().empty() && !platform::only_root_can_change(folder))) return store;
    if (!dir || ::fstat(dir.get(), &st) != 0 || !kept_by_root(st)) return store;
    const int copy = ::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> listing(copy >= 0 ? ::fdopendir(copy) : nullptr, &::closedir);
    if (!listing) {
        if (copy >= 0) ::close(copy);
        return store;
    }
    while (const dirent* e = ::readdir(listing.get()))
        if (e->d_name[0] != '.') add_file(store.get(), dir.get(), e->d_name);
    return store;
}

Error untrusted(std::string text) { return fail(kErrUntrusted, std::move(text)); }

}  // namespace

Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         const std::string& trust_folder) {
    if (signer.empty()) return untrusted("the signature names no certificate");
    const std::string who = "the certificate of \"" + signer.subject_name() + "\"";
    X509StorePtr store = load_store(trust_folder);
    X509StackPtr chain(sk_X509_new_null());
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!store || !chain || !ctx) return untrusted("the trust store could not be read");
    for (const Certificate& c : carried)
        if (!c.empty()) sk_X509_push(chain.get(), c.x509());
    if (X509_STORE_CTX_init(ctx.get(), store.get(), signer.x509(), chain.get()) != 1)
        return untrusted("the trust store could not be read");
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    // A signer's own certificate may be what the site trusts, not only an authority's.
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(when));
    if (X509_verify_cert(ctx.get()) == 1) return {};
    switch (X509_STORE_CTX_get_error(ctx.get())) {
        case X509_V_ERR_CERT_HAS_EXPIRED: return untrusted(who + " had expired when the report was signed");
        case X509_V_ERR_CERT_NOT_YET_VALID: return untrusted(who + " was not yet valid when the report was signed");
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:  // it names a trusted authority that did not sign it
            return untrusted(who + " was not issued by an authority that this site trusts");
        default:
            return untrusted(
                who + " cannot be trusted: " + X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())));
    }
}

Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when) {
    return check_trust(signer, carried, when, platform::trust_store_dir());
}

}  // namespace tv::signing
