#pragma once

#include <string>
#include <string_view>

// What the save dialog of a stream starts with: its filters, default extension and the
// proposed file name, all derived from the stream's path, suffix and media type.
class SaveDialogSetup {
  public:
    static constexpr std::string_view kAllFilesFilter = "All Files (*.*)";

    // "<type name> (*<suffix>)"
    static std::string typeFilter(std::string_view typeName, std::string_view suffix);
    // The suffix without its dot; empty for an empty suffix.
    static std::string defaultExtension(std::string_view suffix);
    // Longest file name the file systems take, in bytes.
    static constexpr std::size_t kNameMax = 255;

    // Lower-cased path cut after the first occurrence of the suffix (dropping a query), then
    // its last segment, percent-decoded and made a safe file name. Without the suffix in it:
    // the last segment of the path before any query. Never empty: falls back to "download"
    // plus the suffix.
    static std::string proposedFileName(std::string_view path, std::string_view suffix);
    // `name` percent-decoded; bad escapes stay as they are.
    static std::string percentDecoded(std::string_view name);
    // A name that can only ever be one file in the chosen folder: no '/', no control bytes,
    // not "." or "..", at most kNameMax bytes (the extension kept, no UTF-8 character cut);
    // empty when nothing is left.
    static std::string safeFileName(std::string_view name);
};
