#include "core/file/FreeFileName.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstddef>

namespace {

// A "suffix" longer than this is part of the name, not a type.
constexpr std::size_t kLongestSuffix = 16;

// At most `limit` bytes of `text`, never ending inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

}  // namespace

std::string FreeFileName::Numbered(const std::string& path, int number) {
    if (number <= 0) {
        return path;
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = path.substr(nameAt);
    // A leading dot makes a hidden name, not a suffix.
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > kLongestSuffix) {
        dot = name.size();
    }
    const std::string mark = " (" + std::to_string(number) + ")";
    const std::string suffix = name.substr(dot);
    const std::size_t room = NAME_MAX - mark.size() - suffix.size();
    return path.substr(0, nameAt) + CutUtf8(name.substr(0, dot), room) + mark + suffix;
}

std::optional<std::string> FreeFileName::Find(
    const std::string& path, const std::function<bool(const std::string&)>& taken) {
    for (int number = 0; number <= kMaxNumber; ++number) {
        std::string candidate = Numbered(path, number);
        if (!taken(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool FreeFileName::Exists(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        return true;
    }
    // A missing folder on the way means no such file; any other failure keeps the name safe.
    return errno != ENOENT && errno != ENOTDIR;
}
