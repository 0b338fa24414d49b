#pragma once

#include <span>
#include <string_view>

// The suffixes the program knows by name, with their media type names: the eleven it has
// always known (their names as they always were), each with its checkbox of the suffix settings
// dialog, then the media of today's web players, which the dialog lists with the other
// suffixes. Any other suffix is of type "Other".
class KnownSuffixes {
  public:
    struct Entry {
        const char* suffix;
        const char* typeName;
        int checkboxId;  // control of the settings dialog; 0: none
        int writeOrder;  // 1-based position in the file the settings dialog writes; 0: none
    };

    static constexpr const char* kOtherTypeName = "Other";

    // In table order, which is also the order of the default file.
    static std::span<const Entry> all();

    // Those with a checkbox, in the order the settings dialog writes ticked suffixes.
    static std::span<const Entry* const> inWriteOrder();

    // Exact, case-sensitive lookup; "Other" when unknown.
    static const char* typeNameOf(std::string_view suffix);
};
