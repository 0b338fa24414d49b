#pragma once

#include <vector>

#include "core/capture/AdapterEntry.h"

// Where the frame gets the machine's adapters from at each start of monitoring.
class AdapterSource {
  public:
    virtual ~AdapterSource() = default;

    // Returns the number of adapters found, or a negative number when enumeration cannot start.
    // `adapters` is replaced only when the result is above 0, so a failed or empty enumeration
    // keeps the previous list.
    virtual int Enumerate(std::vector<AdapterEntry>& adapters) = 0;
};
