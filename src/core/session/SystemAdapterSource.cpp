#include "core/session/SystemAdapterSource.h"

#include "core/capture/CSnmpAdapterList.h"

int SystemAdapterSource::Enumerate(std::vector<AdapterEntry>& adapters) {
    CSnmpAdapterList list;
    const int initialised = list.Initialise();
    if (initialised < 0) {
        return initialised;
    }
    const int count = list.Walk(true, false);
    if (count > 0) {
        std::vector<AdapterEntry> fresh(static_cast<std::size_t>(count));
        fresh.resize(static_cast<std::size_t>(list.Compact(fresh.data(), count)));
        adapters = std::move(fresh);
        return static_cast<int>(adapters.size());
    }
    return count;
}
