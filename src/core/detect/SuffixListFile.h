#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "core/detect/SuffixTable.h"

// The suffix list file `sufix.txt`: one suffix per line, "#" starts a comment line. Lines are
// read in pieces of at most 1023 bytes; an entry longer than a suffix field (7 bytes) and any
// entry after the 64th are ignored.
class SuffixListFile {
  public:
    static constexpr const char* kFileName = "sufix.txt";

    struct Result {
        std::shared_ptr<const SuffixTable> table;  // never null; empty on failure
        bool ok = false;                           // the file was read (perhaps just created)
        bool created = false;                      // it was missing and got the defaults
        std::string error;                         // why it could not be read
    };

    // `sufix.txt` beside the executable when that file exists, otherwise the per-user one.
    static std::filesystem::path defaultPath();

    // $XDG_CONFIG_HOME/quorvex/sufix.txt, or ~/.config/quorvex/sufix.txt.
    static std::filesystem::path userPath();

    // Builds a table from the file. A missing file is first created with the known suffixes
    // (and its folder with it); an existing file is never changed.
    static Result load(const std::filesystem::path& path);

    // Builds a table from an open text stream.
    static std::shared_ptr<SuffixTable> read(std::FILE* file);

    // Builds a table from file contents held in memory.
    static std::shared_ptr<SuffixTable> parse(std::string_view contents);

    // Creates the file with the defaults; false when it exists already or cannot be written.
    // Written aside, so that a file cut short by a full disk never appears.
    static bool createDefault(const std::filesystem::path& path);

    // Replaces the file with `contents`, written aside and renamed into place (through a link
    // at `path`, the file it points to is replaced). True when done; otherwise the old file is
    // untouched and `error` says why, in the system's words.
    static bool save(const std::filesystem::path& path, std::string_view contents,
                     std::string& error);

  private:
    static void addLine(SuffixTable& table, const char* line);
};
