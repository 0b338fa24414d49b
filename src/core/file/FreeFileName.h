#pragma once

#include <functional>
#include <optional>
#include <string>

// Names for a file that must not replace one already there: the path itself, then
// "name (1).mp4", "name (2).mp4", ... with the number before the file name's last suffix.
class FreeFileName {
  public:
    static constexpr int kMaxNumber = 9999;

    // `path` with `number` in its file name; 0 gives the path itself. A name that would grow
    // past the longest file name is cut before its number, never inside a UTF-8 sequence.
    static std::string Numbered(const std::string& path, int number);
    // The first of those names that `taken` does not claim; nullopt when all up to
    // kMaxNumber are taken.
    static std::optional<std::string> Find(const std::string& path,
                                           const std::function<bool(const std::string&)>& taken);
    // Whether something has this name: a file, a folder, a link (even one that leads nowhere),
    // or an entry that cannot be looked at.
    static bool Exists(const std::string& path);
};
