#pragma once

#include "core/tls/SecretBytes.h"

// What a key log knows about one client random; a secret not (yet) logged is empty.
struct KeyLogSecrets {
    SecretBytes masterSecret;            // CLIENT_RANDOM (TLS 1.2)
    SecretBytes clientHandshakeTraffic;  // CLIENT_HANDSHAKE_TRAFFIC_SECRET (TLS 1.3)
    SecretBytes serverHandshakeTraffic;  // SERVER_HANDSHAKE_TRAFFIC_SECRET
    SecretBytes clientTraffic0;          // CLIENT_TRAFFIC_SECRET_0
    SecretBytes serverTraffic0;          // SERVER_TRAFFIC_SECRET_0
};
