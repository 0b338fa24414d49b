#include "TlsContextPair.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace {

constexpr unsigned char kAlpnH2[] = {2, 'h', '2'};
constexpr const char* kAllSuites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
// Fixed validity dates: a certificate made from the clock would differ from run to run.
constexpr time_t kNotBefore = 1700000000;
constexpr time_t kNotAfter = 1900000000;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertificatePtr = std::unique_ptr<X509, CertificateFree>;

CertificatePtr selfSigned(EVP_PKEY* key) {
    CertificatePtr certificate(X509_new());
    if (!certificate) {
        return nullptr;
    }
    X509* c = certificate.get();
    X509_NAME* name = X509_get_subject_name(c);
    const auto* commonName = reinterpret_cast<const unsigned char*>("media.test");
    bool made = X509_set_version(c, X509_VERSION_3) == 1 &&
                ASN1_INTEGER_set(X509_get_serialNumber(c), 1) == 1 &&
                ASN1_TIME_set(X509_getm_notBefore(c), kNotBefore) != nullptr &&
                ASN1_TIME_set(X509_getm_notAfter(c), kNotAfter) != nullptr &&
                X509_set_pubkey(c, key) == 1 &&
                X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1 &&
                X509_set_issuer_name(c, name) == 1 && X509_sign(c, key, EVP_sha256()) > 0;
    return made ? std::move(certificate) : nullptr;
}

int selectH2(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
             unsigned int inLength, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, kAlpnH2, sizeof kAlpnH2, in, inLength) !=
        OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

SSL_CTX* tls13Only(const SSL_METHOD* method) {
    SSL_CTX* context = SSL_CTX_new(method);
    if (context != nullptr && (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
                               SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
                               SSL_CTX_set_ciphersuites(context, kAllSuites) != 1)) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace

TlsContextPair::TlsContextPair() {
    if (!makeClient() || !makeServer()) {
        SSL_CTX_free(client_);
        SSL_CTX_free(server_);
        client_ = server_ = nullptr;
    }
}

TlsContextPair::~TlsContextPair() {
    wipeKeyLog();
    SSL_CTX_free(client_);
    SSL_CTX_free(server_);
}

void TlsContextPair::wipeKeyLog() {
    OPENSSL_cleanse(keyLog_.data(), keyLog_.size());
    keyLog_.clear();
}

void TlsContextPair::collectKeyLogLine(const SSL* ssl, const char* line) {
    auto* self = static_cast<TlsContextPair*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    self->keyLog_ += line;
    self->keyLog_ += '\n';
}

bool TlsContextPair::makeClient() {
    client_ = tls13Only(TLS_client_method());
    if (client_ == nullptr || SSL_CTX_set_alpn_protos(client_, kAlpnH2, sizeof kAlpnH2) != 0) {
        return false;
    }
    SSL_CTX_set_verify(client_, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_app_data(client_, this);
    SSL_CTX_set_keylog_callback(client_, collectKeyLogLine);
    return true;
}

bool TlsContextPair::makeServer() {
    server_ = tls13Only(TLS_server_method());
    KeyPtr key(EVP_EC_gen("P-256"));
    CertificatePtr certificate = key ? selfSigned(key.get()) : nullptr;
    if (server_ == nullptr || !certificate ||
        SSL_CTX_use_certificate(server_, certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(server_, key.get()) != 1 ||
        SSL_CTX_set_num_tickets(server_, 0) != 1) {
        return false;
    }
    SSL_CTX_set_alpn_select_cb(server_, selectH2, nullptr);
    return true;
}
