#pragma once

#include <cstdint>
#include <string_view>

class NetnsPair;

// One short TCP conversation across the pair's link: the client connects to the server
// address on `port`, sends `request`, the server reads it and answers `response`, both close.
// Every step has a time limit. True when all bytes went both ways. Over IPv6 with `ipv6`.
bool TcpExchange(const NetnsPair& pair, std::uint16_t port, std::string_view request,
                 std::string_view response, bool ipv6 = false);
