#include "core/download/record/RecordSaveChoice.h"

#include <cstring>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/record/PlaylistProbe.h"

namespace {

// A name that cannot leave the chosen folder or hide itself.
std::string SafeName(std::string_view stem) {
    std::string name;
    for (char c : stem) {
        auto byte = static_cast<unsigned char>(c);
        name += byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' ? '_' : c;
    }
    while (!name.empty() && name.front() == '.') {
        name.erase(0, 1);
    }
    return name.empty() ? "stream" : name;
}

}  // namespace

std::optional<RecordSaveChoice> RecordSaveChoice::For(const DetectedStream& record,
                                                      long timeoutSeconds) {
    RecordKind kind = DownloadStarter::RecordKindOf(record);
    if (kind == RecordKind::kNone) {
        return std::nullopt;
    }
    bool live = PlaylistProbe::LooksLive(DownloadStarter::FullUrlOf(record), kind, timeoutSeconds);
    RecordSaveChoice choice;
    choice.suffix = RecordKinds::ProposedSuffix(live);
    choice.typeName = live ? "Matroska" : "MPEG-4";
    std::string_view path(record.path, ::strnlen(record.path, sizeof record.path));
    choice.fileName = SafeName(RecordKinds::StemOf(path)) + choice.suffix;
    return choice;
}
