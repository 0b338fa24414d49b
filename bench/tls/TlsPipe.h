#pragma once

#include <openssl/ssl.h>

#include <functional>
#include <string>
#include <string_view>

#include "TlsContextPair.h"

// One TLS 1.3 connection with both ends in this process, joined by memory BIOs: what either end
// writes comes back as the TLS bytes that would cross the wire.
class TlsPipe {
  public:
    // Called with each handshake flight in the order it crosses the wire.
    using Flight = std::function<void(bool fromClient, std::string_view bytes)>;

    // The client offers only `suite`, names `serverName` (SNI) and asks for h2.
    TlsPipe(const TlsContextPair& contexts, const char* suite, const std::string& serverName);
    ~TlsPipe();
    TlsPipe(const TlsPipe&) = delete;
    TlsPipe& operator=(const TlsPipe&) = delete;

    bool ok() const { return client_.ssl != nullptr && server_.ssl != nullptr; }
    // False when either end failed or the handshake did not finish.
    bool handshake(const Flight& flight);
    // `plain` sent by one end, as TLS records; valid until the next call.
    std::string_view seal(bool fromClient, std::string_view plain);
    // The end's close_notify alert record.
    std::string_view closeNotify(bool fromClient);

  private:
    struct End {
        SSL* ssl = nullptr;
        BIO* in = nullptr;   // what the peer sent, for this end to read
        BIO* out = nullptr;  // what this end sent
    };

    static bool makeEnd(End& end, SSL_CTX* context);
    bool advance(End& end, End& peer, bool fromClient, const Flight& flight);
    std::string_view drain(End& end);

    End client_;
    End server_;
    std::string wire_;
};
