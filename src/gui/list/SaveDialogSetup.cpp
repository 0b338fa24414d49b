#include "gui/list/SaveDialogSetup.h"

#include <algorithm>

#include "core/detect/HexDigit.h"

namespace {
std::string toLowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

std::string lastSegment(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}
}  // namespace

std::string SaveDialogSetup::typeFilter(std::string_view typeName, std::string_view suffix) {
    std::string filter(typeName);
    filter += " (*";
    filter += suffix;
    filter += ")";
    return filter;
}

std::string SaveDialogSetup::defaultExtension(std::string_view suffix) {
    return suffix.empty() ? std::string() : std::string(suffix.substr(1));
}

namespace {

bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The first `bytes` bytes of `text`, less a UTF-8 character that would be cut.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    if (bytes >= text.size()) {
        return text;
    }
    while (bytes > 0 && isUtf8Continuation(text[bytes])) {
        --bytes;
    }
    return text.substr(0, bytes);
}
}  // namespace

std::string SaveDialogSetup::percentDecoded(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && HexDigitValue(name[i + 1]) >= 0 &&
            HexDigitValue(name[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(name[i + 1]) * 16 + HexDigitValue(name[i + 2]));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::string SaveDialogSetup::safeFileName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        safe += (c == '/' || byte < 0x20 || byte == 0x7F) ? '_' : c;
    }
    if (safe == "." || safe == "..") {
        return {};
    }
    if (safe.size() > kNameMax) {
        const std::size_t dot = safe.rfind('.');
        const std::string extension =
            dot != std::string::npos && safe.size() - dot <= 16 ? safe.substr(dot) : std::string();
        const std::string_view stem(safe.data(), safe.size() - extension.size());
        safe = std::string(utf8Prefix(stem, kNameMax - extension.size())) + extension;
    }
    return safe;
}

std::string SaveDialogSetup::proposedFileName(std::string_view path, std::string_view suffix) {
    std::string lower = toLowerAscii(path);
    const auto found = suffix.empty() ? std::string::npos : lower.find(suffix);
    if (found != std::string::npos) {
        lower.resize(found + suffix.size());
    } else {
        lower.resize(std::min(lower.find_first_of("?#"), lower.size()));
    }
    std::string name = safeFileName(percentDecoded(lastSegment(lower)));
    if (name.empty()) {
        name = "download" + toLowerAscii(suffix);
    }
    return name;
}
