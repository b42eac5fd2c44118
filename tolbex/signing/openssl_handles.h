// Owning handles for the OpenSSL objects the signing code and its tools hold: each frees its
// object with the library's own free function when it goes.
#pragma once
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace tv::signing {

template <class T, void (*Free)(T*)>
struct OpensslFree {
    void operator()(T* p) const noexcept { Free(p); }
};
inline void free_openssl_bytes(unsigned char* p) { OPENSSL_free(p); }
inline void free_x509_stack(STACK_OF(X509) * s) { sk_X509_free(s); }

using Pkcs7Ptr = std::unique_ptr<PKCS7, OpensslFree<PKCS7, PKCS7_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpensslFree<PKCS12, PKCS12_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OpensslFree<X509_SIG, X509_SIG_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpensslFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpensslFree<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OpensslFree<X509, X509_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, OpensslFree<X509_CRL, X509_CRL_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpensslFree<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpensslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpensslFree<STACK_OF(X509), free_x509_stack>>;
using BioPtr = std::unique_ptr<BIO, OpensslFree<BIO, BIO_free_all>>;
using OsslBytes = std::unique_ptr<unsigned char, OpensslFree<unsigned char, free_openssl_bytes>>;  // OPENSSL_malloc'd

}  // namespace tv::signing
