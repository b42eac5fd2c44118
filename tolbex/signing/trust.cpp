#include "tolbex/signing/trust.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "common/safe_open.h"
#include "platform/event_log.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "tolbex/signing/openssl_handles.h"

namespace tv::signing {

namespace {

// Only root may change what an installation trusts; in a relocated root also the account running
// the program, which owns that root. Nobody else may write.
bool kept_by_root(const struct stat& st) {
    const bool owner_ok = st.st_uid == 0 || (!platform::root().empty() && st.st_uid == ::getuid());
    return owner_ok && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A trust store or one of its files left unread, for the administrator to find.
void log_ignored() {
    platform::event_log().report("tolbex", platform::EventType::Warning, 0, kEventTrustStoreIgnored,
                                 platform::system().user_name());
}

// Adds every certificate and revocation list of one file (PEM, else DER) to `store`.
void add_file(X509_STORE* store, int folder, const char* name) {
    const platform::UniqueFd fd = platform::open_regular_at(folder, name);
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_size > (1 << 20)) return;
    if (!kept_by_root(st)) return log_ignored();
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!platform::pread_all(fd.get(), bytes.data(), bytes.size(), 0)) return;
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    int added = 0;
    while (X509Ptr x{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        X509_STORE_add_cert(store, x.get());
        ++added;
    }
    // The reader steps over blocks of other kinds: the lists are read on a second pass.
    BioPtr again(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    while (X509CrlPtr crl{PEM_read_bio_X509_CRL(again.get(), nullptr, nullptr, nullptr)}) {
        X509_STORE_add_crl(store, crl.get());
        ++added;
    }
    if (added == 0) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509Ptr x{d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))}) {
            X509_STORE_add_cert(store, x.get());
            return;
        }
        p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509CrlPtr crl{d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size()))})
            X509_STORE_add_crl(store, crl.get());
    }
}

// Where in the chain the first certificate is that a revocation list of the store withdraws (0:
// the signer's); -1 when none is. A list counts when the certificate's issuer signed it (found in the chain or the store);
// its dates do not matter: a withdrawal stands until the site removes the list.
int revoked_in_chain(X509_STORE* store, STACK_OF(X509) * chain) {
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
    auto signed_by_issuer = [&](X509_CRL* crl) {
        const X509_NAME* issuer = X509_CRL_get_issuer(crl);
        auto verifies = [&](X509* candidate) {
            if (X509_NAME_cmp(X509_get_subject_name(candidate), issuer) != 0) return false;
            EVP_PKEY* key = X509_get0_pubkey(candidate);
            return key && X509_CRL_verify(crl, key) == 1;
        };
        for (int i = 0; i < sk_X509_num(chain); ++i)
            if (verifies(sk_X509_value(chain, i))) return true;
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i)
            if (X509* x = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i)); x && verifies(x)) return true;
        return false;
    };
    for (int c = 0; c < sk_X509_num(chain); ++c) {
        X509* cert = sk_X509_value(chain, c);
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            X509_CRL* crl = X509_OBJECT_get0_X509_CRL(sk_X509_OBJECT_value(objects, i));
            if (!crl || X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_issuer_name(cert)) != 0) continue;
            X509_REVOKED* entry = nullptr;
            if (X509_CRL_get0_by_cert(crl, &entry, cert) == 1 && signed_by_issuer(crl)) return c;
        }
    }
    return -1;
}

// The trust folder of a relocated root, opened from the root down one folder at a time without
// following a link (a folder the path names outside the root, from the folder that holds it).
// Each folder on the way counts only as kept_by_root says, and a link anywhere counts as kept by
// someone else. Empty with `ignored` set when the store may not be read; empty alone when it is
// missing.
platform::UniqueFd open_relocated_store(const std::string& root, std::string folder, bool& ignored) {
    folder = platform::strip_trailing_slashes(std::move(folder));
    const std::string top = platform::strip_trailing_slashes(root);
    std::string start, below;
    if (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 && folder[top.size()] == '/') {
        start = top;
        below = folder.substr(top.size() + 1);
    } else {
        const std::size_t slash = folder.rfind('/');
        start = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        below = slash == std::string::npos ? folder : folder.substr(slash + 1);
    }
    // The root as the environment names it (a link to it is that choice), then no link below it.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(start.c_str(), nullptr), &std::free);
    if (!resolved) return {};
    platform::UniqueFd dir = open_folder_no_link(resolved.get());
    for (std::size_t at = 0; dir && at <= below.size();) {
        std::size_t end = below.find('/', at);
        if (end == std::string::npos) end = below.size();
        const std::string name = below.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            ignored = true;
            return {};
        }
        OutsideRefusal refusal = OutsideRefusal::None;
        platform::UniqueFd next = open_folder_no_link_at(dir.get(), name, &refusal);
        struct stat st;
        if (!next) {
            // A link, or a file where a folder should be, is someone else's doing.
            ignored = refusal == OutsideRefusal::Link || refusal == OutsideRefusal::NotRegular;
            return {};
        }
        if (::fstat(next.get(), &st) != 0) return {};
        if (!kept_by_root(st)) {
            ignored = true;
            return {};
        }
        dir = std::move(next);
    }
    return dir;
}

X509StorePtr load_store(const std::string& folder) {
    X509StorePtr store(X509_STORE_new());
    if (!store) return store;
    bool ignored = false;
    platform::UniqueFd dir;
    if (const std::string root = platform::root(); !root.empty()) {
        dir = open_relocated_store(root, folder, ignored);
    } else {
        // The path as well as the folder: with a folder on the way that others may write, the
        // trust folder could be swapped for another one.
        dir.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (dir && (::fstat(dir.get(), &st) != 0 || !platform::only_root_can_change(folder) || !kept_by_root(st))) {
            dir.reset();
            ignored = true;
        }
    }
    if (ignored) log_ignored();
    if (!dir) return store;
    if (const auto entries = list_folder_at(dir.get()))
        for (const FolderEntry& e : *entries)
            if (e.name[0] != '.') add_file(store.get(), dir.get(), e.name.c_str());
    return store;
}

Error untrusted(std::string text) { return fail(kErrUntrusted, std::move(text)); }

std::string certificate_of(X509* x) { return "the certificate of \"" + Certificate(x, nullptr).subject_name() + "\""; }

// OpenSSL's S/MIME signing purpose, except that an extended key usage allowing any use counts as
// e-mail protection (OpenSSL wants emailProtection itself).
int allow_any_extended_usage(int ok, X509_STORE_CTX* ctx) {
    if (ok || X509_STORE_CTX_get_error(ctx) != X509_V_ERR_INVALID_PURPOSE || X509_STORE_CTX_get_error_depth(ctx) != 0)
        return ok;
    X509* x = X509_STORE_CTX_get_current_cert(ctx);
    return (X509_get_extended_key_usage(x) & XKU_ANYEKU) != 0 &&
           (X509_get_key_usage(x) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
}

// Why `x` may not sign (its key usage or extended key usage), for a certificate OpenSSL refused
// for the signing purpose.
std::string purpose_problem(X509* x) {
    const std::string who = certificate_of(x);
    if ((X509_get_key_usage(x) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) == 0)
        return who + " is not meant for signing: its key usage allows neither digital signatures nor non-repudiation";
    if ((X509_get_extended_key_usage(x) & (XKU_SMIME | XKU_ANYEKU)) == 0)
        return who + " is not meant for signing: its extended key usage does not include e-mail protection";
    return who + " is not meant for signing";
}

}  // namespace

std::string signing_purpose_problem(const Certificate& certificate) {
    X509* x = certificate.x509();
    if (!x) return "the signature names no certificate";
    if (X509_check_purpose(x, X509_PURPOSE_SMIME_SIGN, 0) == 1) return {};
    const bool any_use = (X509_get_extended_key_usage(x) & XKU_ANYEKU) != 0 &&
                         (X509_get_key_usage(x) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
    return any_use ? std::string() : purpose_problem(x);
}

Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         const std::string& trust_folder, TrustMoment moment) {
    const bool now = moment == TrustMoment::Now;
    if (signer.empty()) return untrusted("the signature names no certificate");
    const std::string who = certificate_of(signer.x509());
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
    // Whatever the library's own default: a weak key or digest never vouches for a signer.
    X509_VERIFY_PARAM_set_auth_level(param, 1);
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SMIME_SIGN);
    X509_STORE_CTX_set_verify_cb(ctx.get(), allow_any_extended_usage);
    if (X509_verify_cert(ctx.get()) == 1) {
        STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
        const int revoked = revoked_in_chain(store.get(), built);
        if (revoked < 0) return {};
        return untrusted((revoked == 0
                              ? who
                              : "the certificate of the authority \"" +
                                    Certificate(sk_X509_value(built, revoked), nullptr).subject_name() + "\"") +
                         " has been revoked by its issuer (a revocation list of this site withdraws it)");
    }
    const int error = X509_STORE_CTX_get_error(ctx.get());
    X509* at = X509_STORE_CTX_get_current_cert(ctx.get());
    // The certificate the error is about: the signer's or an authority's on the way.
    const std::string whose =
        at && X509_STORE_CTX_get_error_depth(ctx.get()) > 0
            ? "the certificate of the authority \"" + Certificate(at, nullptr).subject_name() + "\""
            : who;
    // OpenSSL names an authority of the store by its name alone when it reports the authority's
    // dates: one of the same name that did not sign the certificate below it is a stranger.
    if ((error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) && at &&
        X509_STORE_CTX_get_error_depth(ctx.get()) > 0) {
        STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
        const int depth = X509_STORE_CTX_get_error_depth(ctx.get());
        X509* below = built && depth <= sk_X509_num(built) ? sk_X509_value(built, depth - 1) : nullptr;
        EVP_PKEY* key = X509_get0_pubkey(at);
        if (below && (!key || X509_verify(below, key) != 1))
            return untrusted(certificate_of(below) + " was not issued by an authority that this site trusts");
    }
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return untrusted(whose + (now ? " has expired" : " had expired when the report was signed"));
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return untrusted(whose + (now ? " is not yet valid" : " was not yet valid when the report was signed"));
        case X509_V_ERR_EE_KEY_TOO_SMALL:
        case X509_V_ERR_CA_KEY_TOO_SMALL:
            return untrusted(whose + " has a key too short to be safe (RSA keys need at least 1024 bits)");
        case X509_V_ERR_CA_MD_TOO_WEAK:
            return untrusted(whose + " is signed with a digest too weak to be safe (MD5 or SHA-1)");
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return untrusted(whose + " has a critical extension that this system does not know");
        case X509_V_ERR_INVALID_PURPOSE: return untrusted(purpose_problem(at ? at : signer.x509()));
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            // Its issuer's name is its own, but its own key did not sign it: an authority gave a
            // signer its own name, and such a certificate cannot be told from the authority's.
            if (EVP_PKEY* key = X509_get0_pubkey(signer.x509()); key && X509_verify(signer.x509(), key) != 1)
                return untrusted(who +
                                 " names its own subject as its issuer, so it cannot be told apart from the "
                                 "authority that issued it");
            return untrusted(who + " was not issued by an authority that this site trusts");
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:  // it names a trusted authority that did not sign it
            return untrusted(who + " was not issued by an authority that this site trusts");
        default: return untrusted(whose + " cannot be trusted: " + X509_verify_cert_error_string(error));
    }
}

std::vector<Certificate> trusted_certificates() {
    std::vector<Certificate> out;
    X509StorePtr store = load_store(platform::trust_store_dir());
    if (!store) return out;
    STACK_OF(X509)* all = X509_STORE_get1_all_certs(store.get());
    for (int i = 0; i < sk_X509_num(all); ++i) out.emplace_back(sk_X509_value(all, i), nullptr);
    sk_X509_pop_free(all, X509_free);
    return out;
}

Result<void> check_trust(const Certificate& signer, const std::vector<Certificate>& carried, std::int64_t when,
                         TrustMoment moment) {
    return check_trust(signer, carried, when, platform::trust_store_dir(), moment);
}

std::string signing_refusal(const Certificate& certificate, std::int64_t now) {
    if (std::string why = signing_purpose_problem(certificate); !why.empty()) return why;
    // What a verification will have: the signer's certificate and the trust store.
    if (auto trusted = check_trust(certificate, {certificate}, now, TrustMoment::Now); !trusted)
        return trusted.error().message;
    return {};
}

}  // namespace tv::signing
