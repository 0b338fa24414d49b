#include "TlsPipe.h"

namespace {

// A TLS 1.3 handshake takes three flights; a few more rounds are room, not need.
constexpr int kMaxHandshakeRounds = 8;

}  // namespace

TlsPipe::TlsPipe(const TlsContextPair& contexts, const char* suite, const std::string& serverName) {
    if (!makeEnd(client_, contexts.client()) || !makeEnd(server_, contexts.server()) ||
        SSL_set_ciphersuites(client_.ssl, suite) != 1 ||
        SSL_set_tlsext_host_name(client_.ssl, serverName.c_str()) != 1) {
        SSL_free(client_.ssl);
        SSL_free(server_.ssl);
        client_ = {};
        server_ = {};
        return;
    }
    SSL_set_connect_state(client_.ssl);
    SSL_set_accept_state(server_.ssl);
}

TlsPipe::~TlsPipe() {
    SSL_free(client_.ssl);  // frees its BIOs too
    SSL_free(server_.ssl);
}

bool TlsPipe::makeEnd(End& end, SSL_CTX* context) {
    end.ssl = SSL_new(context);
    end.in = BIO_new(BIO_s_mem());
    end.out = BIO_new(BIO_s_mem());
    if (end.ssl == nullptr || end.in == nullptr || end.out == nullptr) {
        BIO_free(end.in);
        BIO_free(end.out);
        SSL_free(end.ssl);
        end = {};
        return false;
    }
    SSL_set_bio(end.ssl, end.in, end.out);
    return true;
}

bool TlsPipe::handshake(const Flight& flight) {
    for (int round = 0; round < kMaxHandshakeRounds; ++round) {
        if (!advance(client_, server_, true, flight) || !advance(server_, client_, false, flight)) {
            return false;
        }
        if (SSL_is_init_finished(client_.ssl) && SSL_is_init_finished(server_.ssl)) {
            return true;
        }
    }
    return false;
}

// Lets one end take what it was sent and passes on what it answers.
bool TlsPipe::advance(End& end, End& peer, bool fromClient, const Flight& flight) {
    const int result = SSL_do_handshake(end.ssl);
    if (result <= 0 && SSL_get_error(end.ssl, result) != SSL_ERROR_WANT_READ) {
        return false;
    }
    const std::string_view bytes = drain(end);
    if (!bytes.empty()) {
        flight(fromClient, bytes);
        BIO_write(peer.in, bytes.data(), static_cast<int>(bytes.size()));
    }
    return true;
}

std::string_view TlsPipe::seal(bool fromClient, std::string_view plain) {
    End& end = fromClient ? client_ : server_;
    if (!plain.empty() && SSL_write(end.ssl, plain.data(), static_cast<int>(plain.size())) <= 0) {
        return {};
    }
    return drain(end);
}

std::string_view TlsPipe::closeNotify(bool fromClient) {
    End& end = fromClient ? client_ : server_;
    SSL_shutdown(end.ssl);
    return drain(end);
}

std::string_view TlsPipe::drain(End& end) {
    wire_.resize(BIO_ctrl_pending(end.out));
    if (!wire_.empty()) {
        const int read = BIO_read(end.out, wire_.data(), static_cast<int>(wire_.size()));
        wire_.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    }
    return wire_;
}
