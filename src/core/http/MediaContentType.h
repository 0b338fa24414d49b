#pragma once

#include <optional>
#include <string_view>

// Whether a Content-Type names media a recording or download wants: the type name the list
// shows and the suffix its row gets. Parameters and case are ignored; "x-" forms count as
// the plain ones.
struct MediaContentType {
    // The media `contentType` names, or nothing for any other type.
    static std::optional<MediaContentType> of(std::string_view contentType);

    std::string_view typeName;
    std::string_view suffix;  // empty for a video or audio type the table does not know
};
