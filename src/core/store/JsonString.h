#pragma once

#include <string>
#include <string_view>

// A JSON string of a field's bytes: valid UTF-8 as it is, every other byte as \u00XX, so text
// cut out of traffic always yields valid JSON.
class JsonString {
  public:
    // Appends `bytes` in quotes.
    static void append(std::string& out, std::string_view bytes);
};
