#pragma once

#include <cstdint>

// Which way bytes of a followed connection travel. Also indexes a connection's two sides.
enum class FlowDirection : std::uint8_t { ToServer, ToClient };
