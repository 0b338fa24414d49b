#include "core/http/Http1HeadLines.h"

#include "core/http/HttpFieldText.h"

Http1HeadLines::Http1HeadLines(std::string_view head) : rest_(head) {
    startLine_ = takeLine();
}

std::string_view Http1HeadLines::takeLine() {
    const std::size_t end = rest_.find('\n');
    std::string_view line = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

bool Http1HeadLines::next(std::string_view& name, std::string_view& value) {
    while (!rest_.empty()) {
        const std::string_view line = takeLine();
        if (line.empty()) {
            return false;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
            line.front() == '\t') {
            continue;
        }
        name = line.substr(0, colon);
        value = HttpFieldText::trim(line.substr(colon + 1));
        return true;
    }
    return false;
}
