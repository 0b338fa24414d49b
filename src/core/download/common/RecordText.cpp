#include "core/download/common/RecordText.h"

#include <cstring>

void SetRecordText(char* field, std::size_t capacity, std::string_view text) {
    if (capacity == 0) {
        return;
    }
    std::size_t length = text.size();
    if (length >= capacity) {
        length = capacity - 1;
        // Step back over continuation bytes so that no character is left half.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}
