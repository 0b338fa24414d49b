# Shell helpers for a pair of network namespaces joined by veth; sourced, not run.

# netns_pair_up SRV CLI IF_SRV IF_CLI NET: namespaces SRV and CLI, SRV holding NET.1/24 on
# IF_SRV and CLI holding NET.2/24 on IF_CLI, everything up.
netns_pair_up() {
    local srv=$1 cli=$2 if_srv=$3 if_cli=$4 net=$5
    # Stops at the first failure (also where errexit is off), so callers can fall back.
    ip netns add "$srv" &&
        ip netns add "$cli" &&
        ip link add "$if_srv" type veth peer name "$if_cli" &&
        ip link set "$if_srv" netns "$srv" &&
        ip link set "$if_cli" netns "$cli" &&
        ip -n "$srv" addr add "$net.1/24" dev "$if_srv" &&
        ip -n "$cli" addr add "$net.2/24" dev "$if_cli" &&
        ip -n "$srv" link set lo up &&
        ip -n "$cli" link set lo up &&
        ip -n "$srv" link set "$if_srv" up &&
        ip -n "$cli" link set "$if_cli" up
}

# netns_pair_down NS...: stops what runs inside, then deletes (which removes the veth ends).
netns_pair_down() {
    local ns
    for ns in "$@"; do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
        ip netns del "$ns" 2>/dev/null || true
    done
}
