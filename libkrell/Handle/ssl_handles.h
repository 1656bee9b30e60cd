#pragma once
// Owners for the OpenSSL objects the TLS link and the virtual sensor hold, so that every error
// path frees them through a destructor. Each is a std::unique_ptr with the matching free call.

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace krell {

struct SslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free_all(p); }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

}  // namespace krell
