#include "core/capture/CSnmpAdapterList.h"

#include <algorithm>
#include <cstring>

#include "core/capture/SystemInterfaceTable.h"

namespace {

AdapterEntry rawRowFrom(const InterfaceTableSource::InterfaceRow& row) {
    AdapterEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.ifType = row.ifType;
    // Longer hardware addresses (InfiniBand has 20 bytes) do not fit the field: cut.
    std::size_t physLength = std::min(row.physAddress.size(), AdapterEntry::kPhysAddressCapacity);
    entry.physAddressLength = static_cast<std::uint8_t>(physLength);
    std::copy_n(row.physAddress.begin(), physLength, entry.physAddress);
    std::size_t descriptionLength =
        std::min(row.description.size(), CSnmpAdapterList::kMaxDescription);
    std::memcpy(entry.description, row.description.data(), descriptionLength);
    std::memcpy(entry.address6, row.firstGlobalIpv6, sizeof entry.address6);
    return entry;
}

}  // namespace

CSnmpAdapterList::CSnmpAdapterList()
    : ownSource_(std::make_unique<SystemInterfaceTable>()), source_(ownSource_.get()) {}

CSnmpAdapterList::CSnmpAdapterList(InterfaceTableSource& source) : source_(&source) {}

CSnmpAdapterList::~CSnmpAdapterList() = default;

int CSnmpAdapterList::Initialise() {
    initialised_ = false;
    if (!source_) {
        return -1;
    }
    if (!source_->Read(interfaceTable_, addressTable_)) {
        interfaceTable_.clear();
        addressTable_.clear();
        return -3;
    }
    initialised_ = true;
    return 0;
}

bool CSnmpAdapterList::PassesFilter(const AdapterEntry& entry, bool includeDialUp,
                                    bool includeNoPhysAddress) {
    if (entry.physAddressLength == 0) {
        return includeNoPhysAddress;
    }
    static constexpr std::uint8_t kDialUp[4] = {0x44, 0x45, 0x53, 0x54};  // "DEST"
    if (entry.physAddressLength >= 4 && std::memcmp(entry.physAddress, kDialUp, 4) == 0) {
        return includeDialUp;
    }
    // Bytes past the length are zero, so a short address is judged with zero padding.
    static constexpr std::uint8_t kZero[6] = {};
    return std::memcmp(entry.physAddress, kZero, 6) != 0;
}

int CSnmpAdapterList::Walk(bool includeDialUp, bool includeNoPhysAddress) {
    includeDialUp_ = includeDialUp;
    includeNoPhysAddress_ = includeNoPhysAddress;
    rawRows_.clear();
    interfaceIndexes_.clear();
    if (!initialised_) {
        return 0;
    }
    rawRows_.reserve(interfaceTable_.size());
    interfaceIndexes_.reserve(interfaceTable_.size());
    for (const auto& row : interfaceTable_) {
        rawRows_.push_back(rawRowFrom(row));
        interfaceIndexes_.push_back(row.ifIndex);
    }
    // The count is taken the way Compact filters, so the two always agree.
    std::size_t count = std::count_if(addressTable_.begin(), addressTable_.end(),
                                      [this](const auto& row) { return AddressRowPasses(row); });
    for (std::size_t j = 0; j < rawRows_.size(); ++j) {
        count += IsIpv6OnlyRow(j) ? 1 : 0;
    }
    return static_cast<int>(count);
}

bool CSnmpAdapterList::IsIpv6OnlyRow(std::size_t j) const {
    const InterfaceTableSource::InterfaceRow& row = interfaceTable_[j];
    if (!row.hasIpv6 || FindInterfaceRow(row.ifIndex) != static_cast<int>(j) ||
        !PassesFilter(rawRows_[j], includeDialUp_, includeNoPhysAddress_)) {
        return false;
    }
    return std::none_of(addressTable_.begin(), addressTable_.end(),
                        [&](const auto& address) { return address.ifIndex == row.ifIndex; });
}

int CSnmpAdapterList::FindInterfaceRow(std::uint32_t ifIndex) const {
    auto it = std::find(interfaceIndexes_.begin(), interfaceIndexes_.end(), ifIndex);
    return it == interfaceIndexes_.end() ? -1 : static_cast<int>(it - interfaceIndexes_.begin());
}

bool CSnmpAdapterList::AddressRowPasses(const InterfaceTableSource::AddressRow& row) const {
    int j = FindInterfaceRow(row.ifIndex);
    return j >= 0 && PassesFilter(rawRows_[static_cast<std::size_t>(j)], includeDialUp_,
                                  includeNoPhysAddress_);
}

int CSnmpAdapterList::Compact(AdapterEntry* out, int capacity) const {
    int written = 0;
    for (const auto& row : addressTable_) {
        if (written >= capacity) {
            break;
        }
        if (!AddressRowPasses(row)) {
            continue;  // no interface row for it, or filtered out
        }
        AdapterEntry entry = rawRows_[static_cast<std::size_t>(FindInterfaceRow(row.ifIndex))];
        std::memcpy(entry.address, row.address, 4);
        std::memcpy(entry.netMask, row.netMask, 4);
        out[written++] = entry;
    }
    // Then the adapters that have only IPv6, by their first global address.
    for (std::size_t j = 0; j < rawRows_.size() && written < capacity; ++j) {
        if (IsIpv6OnlyRow(j)) {
            out[written++] = rawRows_[j];
        }
    }
    return written;
}

int CSnmpAdapterList::ListAdapters(InterfaceTableSource& source, std::vector<AdapterEntry>& out) {
    CSnmpAdapterList list(source);
    int result = list.Initialise();
    if (result < 0) {
        return result;
    }
    int count = list.Walk(true, false);
    out.assign(static_cast<std::size_t>(count), AdapterEntry{});
    count = list.Compact(out.data(), count);
    out.resize(static_cast<std::size_t>(count));
    return count;
}
