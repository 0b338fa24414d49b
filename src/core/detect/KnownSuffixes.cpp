#include "core/detect/KnownSuffixes.h"

#include <array>

namespace {

constexpr std::array<KnownSuffixes::Entry, 22> kEntries{{
    {".asf", "Windows Media Format", 1010, 1},
    {".mid", "MIDI Format", 1012, 6},
    {".wma", "Windous Media Audio", 1013, 5},
    {".wmv", "Windous Media Video", 1014, 3},
    {".avi", "AVI", 1015, 4},
    {".mp3", "MPeg2 layer 3 audio", 1016, 7},
    {".eva", "Sharp EVA File", 1017, 10},
    {".wav", "Wave Audio", 1018, 8},
    {".swf", "Flash player", 1019, 9},
    {".rm", "RealVideo", 1011, 2},
    {".flv", "Flash Video", 1021, 11},
    // Found after the eleven above, so that a request that names one of those keeps its type.
    // The names are those the answers' Content-Type gives.
    {".mp4", "MPEG-4 Video", 0, 0},
    {".m4a", "MPEG-4 Audio", 0, 0},
    {".m4v", "MPEG-4 Video", 0, 0},
    {".webm", "WebM Video", 0, 0},
    {".m3u8", "HLS Playlist", 0, 0},
    {".mpd", "DASH Manifest", 0, 0},
    {".ts", "MPEG-TS Video", 0, 0},
    {".aac", "AAC Audio", 0, 0},
    {".flac", "FLAC Audio", 0, 0},
    {".ogg", "Ogg Audio", 0, 0},
    {".opus", "Opus Audio", 0, 0},
}};

constexpr std::array<const KnownSuffixes::Entry*, 11> kWriteOrder{{
    &kEntries[0],
    &kEntries[9],
    &kEntries[3],
    &kEntries[4],
    &kEntries[2],
    &kEntries[1],
    &kEntries[5],
    &kEntries[7],
    &kEntries[8],
    &kEntries[6],
    &kEntries[10],
}};

}  // namespace

std::span<const KnownSuffixes::Entry> KnownSuffixes::all() {
    return kEntries;
}

std::span<const KnownSuffixes::Entry* const> KnownSuffixes::inWriteOrder() {
    return kWriteOrder;
}

const char* KnownSuffixes::typeNameOf(std::string_view suffix) {
    for (const Entry& entry : kEntries) {
        if (suffix == entry.suffix) {
            return entry.typeName;
        }
    }
    return kOtherTypeName;
}
