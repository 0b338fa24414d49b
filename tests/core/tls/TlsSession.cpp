#include "TlsSession.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509_free>>;
using Context = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using Connection = std::unique_ptr<SSL, Deleter<SSL_free>>;

// A self-signed P-256 certificate, made once per test run.
struct Identity {
    Key key{EVP_EC_gen("P-256")};
    Cert cert{X509_new()};

    Identity() {
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("quorvex.test"), -1, -1,
                                   0);
        X509_set_issuer_name(cert.get(), name);
        X509_sign(cert.get(), key.get(), EVP_sha256());
    }
};

const Identity& identity() {
    static const Identity made;
    return made;
}

int selectAlpn(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
               unsigned int inLength, void* arg) {
    const auto* wanted = static_cast<const std::string*>(arg);
    for (unsigned int i = 0; i < inLength; i += 1u + in[i]) {
        std::string offered(reinterpret_cast<const char*>(in + i + 1), in[i]);
        if (offered == *wanted) {
            *out = in + i + 1;
            *outLength = in[i];
            return SSL_TLSEXT_ERR_OK;
        }
    }
    return SSL_TLSEXT_ERR_NOACK;
}

void collectKeyLog(const SSL* ssl, const char* line) {
    static_cast<std::string*>(SSL_get_app_data(ssl))->append(line).append("\n");
}

Context makeContext(const TlsSessionOptions& options, bool server) {
    Context context(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, options.version);
    SSL_CTX_set_max_proto_version(ctx, options.version);
    if (options.version == TLS1_3_VERSION) {
        SSL_CTX_set_ciphersuites(ctx, options.cipher.c_str());
    } else {
        SSL_CTX_set_cipher_list(ctx, options.cipher.c_str());
    }
    if (options.retryRequest) {
        // The client sends a key share for its first group only.
        SSL_CTX_set1_groups_list(ctx, server ? "P-256" : "X25519:P-256");
    }
    if (server) {
        SSL_CTX_use_certificate(ctx, identity().cert.get());
        SSL_CTX_use_PrivateKey(ctx, identity().key.get());
        if (!options.alpn.empty()) {
            SSL_CTX_set_alpn_select_cb(ctx, selectAlpn, const_cast<std::string*>(&options.alpn));
        }
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_keylog_callback(ctx, collectKeyLog);
    }
    return context;
}

Connection makeConnection(SSL_CTX* context) {
    Connection ssl(SSL_new(context));
    SSL_set_bio(ssl.get(), BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    return ssl;
}

// Moves what `from` wrote to `to`, recording it; false when there was nothing.
bool transfer(SSL* from, SSL* to, bool fromClient, TlsTranscript& transcript) {
    BIO* out = SSL_get_wbio(from);
    std::vector<std::uint8_t> bytes(BIO_ctrl_pending(out));
    if (bytes.empty()) {
        return false;
    }
    BIO_read(out, bytes.data(), static_cast<int>(bytes.size()));
    BIO_write(SSL_get_rbio(to), bytes.data(), static_cast<int>(bytes.size()));
    transcript.segments.push_back({fromClient, std::move(bytes)});
    return true;
}

void readAll(SSL* ssl, std::string& into) {
    char buffer[4096];
    int got;
    while ((got = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
    }
}

bool writeAll(SSL* ssl, const std::string& text) {
    return text.empty() || SSL_write(ssl, text.data(), static_cast<int>(text.size())) ==
                               static_cast<int>(text.size());
}

}  // namespace

TlsTranscript::~TlsTranscript() {
    OPENSSL_cleanse(keyLog.data(), keyLog.size());
}

void runTlsSession(const TlsSessionOptions& options, TlsTranscript& transcript) {
    Context clientContext = makeContext(options, false);
    Context serverContext = makeContext(options, true);
    Connection client = makeConnection(clientContext.get());
    Connection server = makeConnection(serverContext.get());
    // Reserved, so that appending never leaves an unwiped copy behind.
    transcript.keyLog.reserve(4096);
    SSL_set_app_data(client.get(), &transcript.keyLog);
    SSL_set_connect_state(client.get());
    SSL_set_accept_state(server.get());
    if (!options.serverName.empty()) {
        SSL_set_tlsext_host_name(client.get(), options.serverName.c_str());
    }
    static const unsigned char kOffers[] = "\x02h2\x08http/1.1";
    SSL_set_alpn_protos(client.get(), kOffers, sizeof kOffers - 1);

    auto exchange = [&] {
        while (transfer(client.get(), server.get(), true, transcript) |
               transfer(server.get(), client.get(), false, transcript)) {
        }
    };
    // Each round makes progress until both are done; a handful of rounds is plenty.
    for (int round = 0;
         round < 10 && !(SSL_is_init_finished(client.get()) && SSL_is_init_finished(server.get()));
         ++round) {
        SSL_do_handshake(client.get());
        exchange();
        SSL_do_handshake(server.get());
        exchange();
    }
    std::size_t half = options.response.size() / 2;
    bool written = writeAll(client.get(), options.request);
    exchange();
    readAll(server.get(), transcript.serverRead);
    written = written && writeAll(server.get(), options.response.substr(0, half));
    if (options.keyUpdate) {
        written = written && SSL_key_update(server.get(), SSL_KEY_UPDATE_REQUESTED) == 1;
    }
    written = written && writeAll(server.get(), options.response.substr(half));
    exchange();
    readAll(client.get(), transcript.clientRead);
    // After a requested update the client's next record goes under its new key.
    written = written && writeAll(client.get(), options.request);
    exchange();
    readAll(server.get(), transcript.serverRead);
    transcript.completed =
        written && SSL_is_init_finished(client.get()) && SSL_is_init_finished(server.get());
}
