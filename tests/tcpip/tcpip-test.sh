#!/bin/bash
# The helper quorrel-tcpip and the optimizer page on real kernel state, in a user, network
# and mount namespace of their own: a link ppp0 with a default route, its /sys, and /etc under
# an overlay whose upper layer holds Quorrel's folders (the machine's /etc is not ours).
# Usage: tcpip-test.sh HELPER TEST-OPTIMIZER
set -u
if [ "${1:-}" != --inside ]; then
    why=$(unshare -rnm true 2>&1) || { echo "SKIP   : no user namespaces: $why"; exit 77; }
    exec unshare -rnm "$0" --inside "$@"
fi
helper=$2 optimizer=$3
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "PASS   : $1"; else echo "FAIL!  : $1"; failures=$((failures + 1)); fi
}
fails() { ! "$@" 2>/dev/null; }
# The link's MTU, its default route, the TTL, then Quorrel's files less their comments.
state() { # shellcheck disable=SC2046 # one blank between words
    echo $(cat /sys/class/net/ppp0/mtu) "|" $(ip -4 -o route show default) "|" \
        $(cat /proc/sys/net/ipv4/ip_default_ttl) "|" \
        $(cat /etc/quorrel/tcpip.conf /etc/sysctl.d/60-quorrel.conf 2>/dev/null | grep -v '^#')
}
is() { [ "$(state)" = "$1" ] || { echo "         was: $(state)"; false; }; }
gives() { "$helper" "${@:2}" && is "$1"; } # gives STATE ARGUMENTS...
up() { ip link set ppp0 up && ip route replace default via 10.9.0.2 dev ppp0; }

mkdir -p "$work/upper/quorrel" "$work/upper/sysctl.d" "$work/work" "$work/bin"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/upper,workdir=$work/work" /etc &&
    mount -t sysfs sysfs /sys || { echo "SKIP   : /etc and /sys cannot be mounted here"; exit 77; }
ip link add ppp0 type veth peer name peer0 && ip link set peer0 up &&
    ip addr add 10.9.0.1/24 dev ppp0 && up || { echo "FAIL!  : no link"; exit 1; }
untouched="1500 | default via 10.9.0.2 dev ppp0 | 64 |"
optimized="576 | default via 10.9.0.2 dev ppp0 window 4388 advmss 536 | 128 |\
 mtu=576 mss=536 window=4388 ttl=128 net.ipv4.ip_default_ttl = 128"

for wrong in "set mtu=576 mss=99999" "set mtu=0x240" "set ttl=" "set ttl=64 ttl=65" "set colour=5" \
    "set" "reset now" "frobnicate"; do
    check "the helper refuses: $wrong" fails "$helper" $wrong
done
check "and nothing is touched" is "$untouched"
check "set: the link, its route, the TTL and the configuration hold the values" \
    gives "$optimized" set mtu=576 mss=536 window=4388 ttl=128
ip link set ppp0 down && ip link set ppp0 mtu 1500 && up && echo 64 >/proc/sys/net/ipv4/ip_default_ttl
check "apply, as the hooks run it, sets them again on a link that came up anew" gives "$optimized" apply
check "reset restores the defaults and removes the configuration" gives "$untouched" reset

# The window: refused by a pkexec that records its arguments, then with the
# right to change the network.
printf '#!/bin/sh\necho "$@" >"%s"\nexit 126\n' "$work/pkexec.log" >"$work/bin/pkexec" &&
    chmod +x "$work/bin/pkexec"
export QUORREL_TCPIP_HELPER=$helper
check "the page shows a refused authorization" env PATH="$work/bin:$PATH" \
    setpriv --inh-caps=-net_admin --bounding-set=-net_admin "$optimizer" theRunningSystem:refused
check "it asked pkexec once for all values" test "$(cat "$work/pkexec.log")" = \
    "$helper set mtu=576 mss=536 window=4388 ttl=128 linkmtu=576"
check "and nothing changed" is "$untouched"
check "the page optimizes the running system" "$optimizer" theRunningSystem:direct
check "which holds the values" is "$optimized"
ip route del default
check "without a default route the helper refuses" fails "$helper" set mtu=576
[ "$failures" -eq 0 ]
