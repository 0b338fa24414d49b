#include "core/detect/KnownSuffixes.h"

#include <array>

namespace {

constexpr std::array<KnownSuffixes::Entry, 11> kEntries{{
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
