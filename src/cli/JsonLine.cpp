#include "cli/JsonLine.h"

#include "core/store/JsonString.h"

void JsonLine::appendEscaped(std::string& out, std::string_view bytes) {
    JsonString::append(out, bytes);
}

void JsonLine::addKey(std::string_view key) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    appendEscaped(text_, key);
    text_ += ':';
}

JsonLine& JsonLine::add(std::string_view key, std::string_view bytes) {
    addKey(key);
    appendEscaped(text_, bytes);
    return *this;
}

JsonLine& JsonLine::add(std::string_view key, std::int64_t number) {
    addKey(key);
    text_ += std::to_string(number);
    return *this;
}
