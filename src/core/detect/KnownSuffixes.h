#pragma once

#include <span>
#include <string_view>

// The eleven suffixes the program knows by name, with their media type names and the
// checkboxes of the suffix settings dialog. Any other suffix is of type "Other".
class KnownSuffixes {
  public:
    struct Entry {
        const char* suffix;
        const char* typeName;
        int checkboxId;  // control of the settings dialog
        int writeOrder;  // 1-based position in the file the settings dialog writes
    };

    static constexpr const char* kOtherTypeName = "Other";

    // In table order, which is also the order of the default file.
    static std::span<const Entry> all();

    // In the order the settings dialog writes ticked suffixes.
    static std::span<const Entry* const> inWriteOrder();

    // Exact, case-sensitive lookup; "Other" when unknown.
    static const char* typeNameOf(std::string_view suffix);
};
