#!/usr/bin/env bash
# Runs a test program inside a network namespace of its own, joined by a veth pair to a second
# namespace where the program may start the simulated service. Both exist only for this run:
#
#   client namespace  veth 203.0.113.2/24  <-->  203.0.113.1/24 veth  server namespace
#                          2001:db8::2/64            2001:db8::1/64
#
# The addresses are from documentation ranges that are never routed anywhere, and no namespace has
# a route beyond the pair. The program resolves names from a hosts file of its own, and never asks
# DNS:
#   dual.vestrel.test    203.0.113.1 and 2001:db8::1
#   v6only.vestrel.test  2001:db8::1
# The program learns the rest from its environment:
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

etc=""
cleanup() {
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
  [[ -n $etc ]] && rm -rf "$etc"
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
# Without duplicate address detection, so that the addresses can be used at once.
ip -n "$server" addr add 2001:db8::1/64 dev "$server_link" nodad
ip -n "$client" addr add 2001:db8::2/64 dev "$client_link" nodad
ip -n "$server" link set "$server_link" up
ip -n "$client" link set "$client_link" up
# The link-local addresses finish their duplicate address detection a moment after the link comes
# up, and the system reports it as an address change: let that settle before the test begins, so
# that no report the test did not make reaches the client.
for _ in $(seq 50); do
  [[ -z $(ip -n "$server" -6 addr show tentative; ip -n "$client" -6 addr show tentative) ]] && break
  sleep 0.1
done

# The client's names: a hosts file, and a name service switch that looks nowhere else, both bound
# over the system's files in the mount namespace that `ip netns exec` gives the program alone. A
# name cache daemon would answer from the system's files, so its socket is hidden there too.
etc=$(mktemp -d)
printf '%s\n' "127.0.0.1 localhost" "203.0.113.1 dual.vestrel.test" "2001:db8::1 dual.vestrel.test" \
  "2001:db8::1 v6only.vestrel.test" >"$etc/hosts"
if [[ -f /etc/nsswitch.conf ]]; then
  sed 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf >"$etc/nsswitch.conf"
else
  echo "hosts: files" >"$etc/nsswitch.conf"
fi
mkdir "$etc/empty"
set +e

# shellcheck disable=SC2016 # expanded by the inner shell
ip netns exec "$client" env VESTREL_NETNS_SERVER="$server" VESTREL_NETNS_CLIENT_LINK="$client_link" \
  VESTREL_NETNS_SERVER_LINK="$server_link" bash -c '
    set -e
    mount --bind "$1/hosts" /etc/hosts
    mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf
    if [[ -d /run/nscd ]]; then mount --bind "$1/empty" /run/nscd; fi
    shift
    set +e
    exec "$@"' vestrel-netns "$etc" "$@"
