#pragma once

#include <string>
#include <string_view>

// Makes bytes from the wire safe to show on a terminal: every control byte (below 0x20,
// 0x7F), every C1 control (U+0080-U+009F, or a lone byte 0x80-0x9F) and every byte that is
// not part of a valid UTF-8 sequence goes out as \xNN, so no escape sequence, carriage
// return or stray byte reaches the terminal. Valid UTF-8 text stays readable as it is.
class TerminalText {
  public:
    static void appendEscaped(std::string& out, std::string_view bytes);
    static std::string escaped(std::string_view bytes);
};
