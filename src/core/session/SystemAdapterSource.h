#pragma once

#include "core/session/AdapterSource.h"

// The machine's own adapters: initialise, walk with dial-up kept and adapters without a
// physical address dropped, compact.
class SystemAdapterSource : public AdapterSource {
  public:
    int Enumerate(std::vector<AdapterEntry>& adapters) override;
};
