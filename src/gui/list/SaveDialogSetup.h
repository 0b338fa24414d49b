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
    // Lower-cased path cut after the first occurrence of the suffix (dropping a query), then
    // its last segment. Without the suffix in it: the last segment of the path before any
    // query. Never empty: falls back to "download" plus the suffix.
    static std::string proposedFileName(std::string_view path, std::string_view suffix);
};
