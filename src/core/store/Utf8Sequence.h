#pragma once

#include <cstddef>
#include <string_view>

// Length of the valid UTF-8 sequence that starts at `i` in `s` (1 for ASCII), or 0 when the
// byte there starts none: overlong forms, surrogates and code points above U+10FFFF count
// as invalid, as does a sequence cut off by the end of `s`.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i);

// Whether all of `s` is valid UTF-8.
bool isUtf8(std::string_view s);
