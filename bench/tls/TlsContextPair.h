#pragma once

#include <openssl/ssl.h>

#include <string>

// The client and server sides every generated connection is made from: TLS 1.3 only, ALPN h2,
// a self-signed certificate made at run time, no session tickets. The client side collects
// the key log lines of every connection, as a browser writes them to $SSLKEYLOGFILE.
class TlsContextPair {
  public:
    TlsContextPair();
    ~TlsContextPair();
    TlsContextPair(const TlsContextPair&) = delete;
    TlsContextPair& operator=(const TlsContextPair&) = delete;

    bool ok() const { return client_ != nullptr && server_ != nullptr; }
    SSL_CTX* client() const { return client_; }
    SSL_CTX* server() const { return server_; }

    // The key log lines collected so far, each ending in a newline.
    const std::string& keyLog() const { return keyLog_; }
    // Overwrites the collected secrets once they are written out.
    void wipeKeyLog();

  private:
    static void collectKeyLogLine(const SSL* ssl, const char* line);
    bool makeClient();
    bool makeServer();

    SSL_CTX* client_ = nullptr;
    SSL_CTX* server_ = nullptr;
    std::string keyLog_;
};
