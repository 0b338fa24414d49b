#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Builds one JSON object on one line. Strings carry the field's bytes: valid UTF-8 as it
// is, every other byte as \u00XX, so text cut out of traffic always yields valid JSON.
class JsonLine {
  public:
    JsonLine& add(std::string_view key, std::string_view bytes);
    JsonLine& add(std::string_view key, const char* bytes) {
        return add(key, std::string_view(bytes));
    }
    JsonLine& add(std::string_view key, std::int64_t number);
    JsonLine& add(std::string_view key, int number) { return add(key, std::int64_t{number}); }
    JsonLine& add(std::string_view key, unsigned number) { return add(key, std::int64_t{number}); }

    // The finished object, without a line break.
    std::string str() const { return text_ + "}"; }

    static void appendEscaped(std::string& out, std::string_view bytes);

  private:
    void addKey(std::string_view key);

    std::string text_ = "{";
};
