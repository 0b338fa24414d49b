#include "gui/list/SaveDialogSetup.h"

#include <algorithm>

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

std::string SaveDialogSetup::proposedFileName(std::string_view path, std::string_view suffix) {
    std::string lower = toLowerAscii(path);
    const auto found = suffix.empty() ? std::string::npos : lower.find(suffix);
    if (found != std::string::npos) {
        lower.resize(found + suffix.size());
    } else {
        lower.resize(std::min(lower.find_first_of("?#"), lower.size()));
    }
    std::string name = lastSegment(lower);
    if (name.empty() || name == "." || name == "..") {
        name = "download" + toLowerAscii(suffix);
    }
    return name;
}
