#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/capture/AdapterEntry.h"
#include "core/capture/InterfaceTableSource.h"

// Builds the adapter list from the interfaces table and the IPv4 address table: one entry per
// IPv4 address of an adapter that passes the filter, in address-table order, then one per
// adapter that passes it with a global IPv6 address but no IPv4 one (address zero, address6
// set), in interface order. Used in the order Initialise, Walk, Compact; short-lived.
class CSnmpAdapterList {
  public:
    static constexpr std::size_t kMaxDescription = AdapterEntry::kDescriptionCapacity - 2;  // 255

    // Reads the machine's own interfaces.
    CSnmpAdapterList();
    // Reads `source`, which must outlive this object.
    explicit CSnmpAdapterList(InterfaceTableSource& source);
    ~CSnmpAdapterList();

    CSnmpAdapterList(const CSnmpAdapterList&) = delete;
    CSnmpAdapterList& operator=(const CSnmpAdapterList&) = delete;

    // 0 when both tables were read; -1 without a source, -3 when reading them failed.
    int Initialise();

    // Prepares the rows and returns how many entries Compact will write: the address rows
    // whose interface passes the filter. Dial-up adapters (physical address starting with
    // "DEST") are kept when `includeDialUp`; adapters without a physical address when
    // `includeNoPhysAddress`.
    int Walk(bool includeDialUp, bool includeNoPhysAddress);

    // Writes at most `capacity` entries to `out`; returns the number written.
    int Compact(AdapterEntry* out, int capacity) const;

    // Initialise, Walk(1, 0) and Compact into `out`. Returns the entry count, or the negative
    // result of Initialise.
    static int ListAdapters(InterfaceTableSource& source, std::vector<AdapterEntry>& out);

    // The adapter filter on one entry's physical address.
    static bool PassesFilter(const AdapterEntry& entry, bool includeDialUp,
                             bool includeNoPhysAddress);

  private:
    // Index of the first interface row with `ifIndex`, or -1.
    int FindInterfaceRow(std::uint32_t ifIndex) const;
    bool AddressRowPasses(const InterfaceTableSource::AddressRow& row) const;
    // Interface row j passes the filter and has a global IPv6 address but no IPv4 address.
    bool IsIpv6OnlyRow(std::size_t j) const;

    std::unique_ptr<InterfaceTableSource> ownSource_;
    InterfaceTableSource* source_ = nullptr;
    bool initialised_ = false;
    std::vector<InterfaceTableSource::InterfaceRow> interfaceTable_;
    std::vector<InterfaceTableSource::AddressRow> addressTable_;

    std::vector<std::uint32_t> interfaceIndexes_;  // ifIndex of each raw row
    std::vector<AdapterEntry> rawRows_;            // one per interface row
    bool includeDialUp_ = true;
    bool includeNoPhysAddress_ = false;
};
