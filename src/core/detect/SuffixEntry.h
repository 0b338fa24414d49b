#pragma once

// One row of the suffix table: the suffix searched for in traffic and its media type name.
struct SuffixEntry {
    static constexpr int kSuffixCapacity = 8;
    static constexpr int kTypeNameCapacity = 64;

    char suffix[kSuffixCapacity];
    char typeName[kTypeNameCapacity];
};
