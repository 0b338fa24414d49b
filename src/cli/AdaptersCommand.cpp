#include <cstdio>
#include <vector>

#include "cli/AdapterText.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/SystemInterfaceTable.h"

namespace {

constexpr char kHelp[] =
    "usage: quorvex-cli adapters [--json]\n"
    "\n"
    "Lists the adapters that can be monitored, as the adapter selection shows them: one\n"
    "entry per IPv4 address of an adapter with a hardware address (dial-up links kept),\n"
    "in address order, then one per such adapter that has only IPv6 addresses, shown by\n"
    "its first global IPv6 address (mask \"-\"). Each line: index, name, address, mask,\n"
    "hardware address, ifType. JSON adds address6, the adapter's first global IPv6 address.\n"
    "\n"
    "  --json   one JSON object per line\n";

}  // namespace

int runAdapters(int argc, char** argv) {
    CliArgs args("adapters", argc, argv, {}, {"json"});
    if (args.wantsHelp()) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!args.ok()) {
        return args.fail(args.error());
    }
    SystemInterfaceTable system;
    std::vector<AdapterEntry> entries;
    if (CSnmpAdapterList::ListAdapters(system, entries) < 0) {
        return args.fail("cannot read the network interfaces");
    }
    bool json = args.has("json");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        int index = static_cast<int>(i);
        std::string line = json ? AdapterText::JsonLine(entries[i], index)
                                : AdapterText::PlainLine(entries[i], index);
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
