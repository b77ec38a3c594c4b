#!/usr/bin/env bash
# Runs a test program inside a network namespace of its own, joined by a veth pair to a second
# namespace where the program may start the simulated service. Both exist only for this run:
#
#   client namespace  veth 203.0.113.2/24  <-->  203.0.113.1/24 veth  server namespace
#
# The addresses are from a documentation range that is never routed anywhere, and no namespace has
# a route beyond the pair. The program learns the names from its environment:
#   VESTREL_NETNS_SERVER       the server namespace, for `ip netns exec`
#   VESTREL_NETNS_CLIENT_LINK  the client's end of the pair
#   VESTREL_NETNS_SERVER_LINK  the server's end of the pair
#
#   tests/netns/run.sh PROGRAM [ARGS...]
# Exits 77 (skipped) with the reason when namespaces cannot be made here: not root, no `ip`.
set -uo pipefail

if [[ $(id -u) -ne 0 ]]; then
  echo "skipped: network namespaces need root" >&2
  exit 77
fi
if ! command -v ip >/dev/null; then
  echo "skipped: ip (iproute2) is not installed" >&2
  exit 77
fi

tag="vst$$"
server="$tag-s"
client="$tag-c"
server_link="${tag}s"
client_link="${tag}c"

cleanup() {
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
}
trap cleanup EXIT

# Namespaces that an earlier run left behind when it was killed.
for ns in $(ip netns list 2>/dev/null | awk '/^vst[0-9]+-[sc]/ { print $1 }'); do
  pid=${ns#vst}
  pid=${pid%-*}
  kill -0 "$pid" 2>/dev/null || ip netns del "$ns" 2>/dev/null
done

# Whether namespaces can be made and entered here at all: root in a container without the right to
# make them, or in a chroot whose root is not a mount point ("mount --make-rslave /" fails when a
# namespace is entered), cannot. Any failure up to this point is the system's, and skips with its
# reason; everything after it is the test's, and fails loudly.
for ns in "$server" "$client"; do
  if ! reason=$( { ip netns add "$ns" && ip netns exec "$ns" true; } 2>&1); then
    echo "skipped: cannot make network namespaces here: ${reason:-ip netns failed}" >&2
    exit 77
  fi
done
set -e
ip link add "$client_link" netns "$client" type veth peer name "$server_link" netns "$server"
ip -n "$server" link set lo up
ip -n "$client" link set lo up
ip -n "$server" addr add 203.0.113.1/24 dev "$server_link"
ip -n "$client" addr add 203.0.113.2/24 dev "$client_link"
ip -n "$server" link set "$server_link" up
ip -n "$client" link set "$client_link" up
set +e

ip netns exec "$client" env VESTREL_NETNS_SERVER="$server" VESTREL_NETNS_CLIENT_LINK="$client_link" \
  VESTREL_NETNS_SERVER_LINK="$server_link" "$@"
