#!/bin/bash
# The helper quorrel-tcpip, the package's maintainer scripts and the optimizer page on real
# kernel state, in a user, network and mount namespace of their own: a link ppp0 with a default
# route, its /sys, and /etc under an overlay whose upper layer holds Quorrel's folders (the
# machine's /etc is not ours); the installed helper's folder under another.
# Usage: tcpip-test.sh HELPER TEST-OPTIMIZER MAINTAINER-SCRIPTS-FOLDER INSTALLED-HELPER
set -u
if [ "${1:-}" != --inside ]; then
    why=$(unshare -rnm true 2>&1) || { echo "SKIP   : no user namespaces: $why"; exit 77; }
    exec unshare -rnm "$0" --inside "$@"
fi
helper=$2 optimizer=$3 scripts=$4 installed=$5
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "PASS   : $1"; else echo "FAIL!  : $1"; failures=$((failures + 1)); fi
}
fails() { ! "$@" 2>/dev/null; }
ends() { "${@:2}" 2>/dev/null; [ $? = "$1" ]; } # ends STATUS COMMAND...: a refusal, not a time-out
# The link's MTU, its default route, the TTL, then Quorrel's files less their comments.
state() { # shellcheck disable=SC2046 # one blank between words
    echo $(cat /sys/class/net/ppp0/mtu) "|" $(ip -4 -o route show default) "|" \
        $(cat /proc/sys/net/ipv4/ip_default_ttl) "|" $(for file in /etc/quorrel/tcpip.conf \
            /etc/sysctl.d/60-quorrel.conf; do [ -f "$file" ] && [ ! -L "$file" ] && cat "$file"; done |
            grep -v '^#')
}
# Quorrel's files in /etc, and any other it left there.
leftovers() { ls -A /etc/quorrel 2>/dev/null; ls -A /etc/sysctl.d | grep quorrel; }
shows() { [ "$("${@:2}")" = "$1" ] || { echo "         was: $("${@:2}")"; false; }; } # shows TEXT COMMAND...
is() { shows "$1" state; }
oneOf() { for one in "${@:2}"; do [ "$1" = "$one" ] && return; done; echo "         was: $1"; false; }
tcpip() { timeout 90 "$helper" "$@"; }
gives() { tcpip "${@:2}" && is "$1"; } # gives STATE ARGUMENTS...
up() { ip link set ppp0 up && ip route replace default via 10.9.0.2 dev ppp0 metric 100; }
# A second link, whose default route comes before ppp0's: eth9 add|prepend METRIC.
eth9() { ip link add eth9 type veth peer name peer9 && ip link set peer9 up && ip link set eth9 up &&
    ip addr add 10.8.0.1/24 dev eth9 && ip route "$1" default via 10.8.0.2 dev eth9 metric "$2"; }
fresh() { rm -rf /etc/quorrel /etc/sysctl.d/60-quorrel.conf; } # Quorrel never ran

mkdir -p "$work/upper/sysctl.d" "$work/work" "$work/bin" "$work/libexec/upper" "$work/libexec/work"
libexec=$(dirname "$(dirname "$installed")")
mkdir -p "$work/libexec/upper/$(basename "$(dirname "$installed")")" && cp "$helper" "$work/libexec/upper/${installed#"$libexec"/}"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/upper,workdir=$work/work" /etc &&
    mount -t overlay overlay -o "lowerdir=$libexec,upperdir=$work/libexec/upper,workdir=$work/libexec/work" "$libexec" &&
    mount -t sysfs sysfs /sys || { echo "SKIP   : /etc, $libexec and /sys cannot be mounted here"; exit 77; }
ip link add ppp0 type veth peer name peer0 && ip link set peer0 up && ip link set ppp0 mtu 1400 &&
    ip addr add 10.9.0.1/24 dev ppp0 && up || { echo "FAIL!  : no link"; exit 1; }
untouched="1400 | default via 10.9.0.2 dev ppp0 metric 100 | 64 |"
optimized="576 | default via 10.9.0.2 dev ppp0 metric 100 window 4388 advmss 536 | 128 | link=ppp0\
 mtu=576 mss=536 window=4388 ttl=128 before.mtu=1400 before.ttl=64 net.ipv4.ip_default_ttl = 128"

for wrong in "set mtu=576 mss=99999" "set mtu=0x240" "set mtu=+576" "set ttl=256" "set ttl=" \
    "set ttl=64 ttl=65" "set colour=5" "set" "reset now" "apply ppp0 eth9" "apply ../x" "frobnicate"; do
    check "the helper refuses: $wrong" ends 2 tcpip $wrong
done
check "and nothing is touched" is "$untouched"
check "set: the link, its route, the TTL and the configuration hold the values" \
    gives "$optimized" set mtu=576 mss=536 window=4388 ttl=128
ip link set ppp0 down && ip link set ppp0 mtu 1400 && up && echo 64 >/proc/sys/net/ipv4/ip_default_ttl
check "apply, as the hooks run it, sets them again on their link that came up anew" \
    gives "$optimized" apply ppp0
check "reset puts back what the link and the system held" gives "$untouched" reset
check "and leaves nothing in /etc" shows "" leftovers
check "reset with nothing set changes nothing" gives "$untouched" reset

# What the caller hands down: its umask, its file size limit.
for mask in 000 077; do
    fresh
    [ $mask = 077 ] && mkdir -m 700 /etc/quorrel # as a careless root may have left it
    check "under umask $mask the folder is root's, and everyone may read the files" bash -c \
        "umask $mask; timeout 90 '$helper' set ttl=100 && [ \"\$(stat -c '%a %u' /etc/quorrel \
        /etc/quorrel/tcpip.conf /etc/sysctl.d/60-quorrel.conf | xargs)\" = '755 0 644 0 644 0' ]"
    tcpip reset
done
# A soft limit is lifted; a hard one only by the real root, or else nothing changes.
for limit in "-S -f 0" "-f 0"; do
    bash -c "ulimit $limit; timeout 90 '$helper' set mtu=576 mss=536 window=4388 ttl=128" 2>/dev/null
    accepted=("$optimized") && [ "$limit" = "-f 0" ] && accepted+=("$untouched")
    check "under ulimit $limit the link and the files change all or not at all" \
        oneOf "$(state)" "${accepted[@]}"
    check "and no temporary file is left" shows "" bash -c "$(declare -f leftovers); leftovers |
        grep -vx -e tcpip.conf -e 60-quorrel.conf"
    tcpip reset
done

# Files planted where the helper writes: refused in a folder others may write, a link or pipe
# as the configuration is refused in any, and one as a temporary name is passed over.
decoy=/etc/decoy # where a hard link can reach it
printf 'decoy\n' >"$decoy" && chmod 600 "$decoy"
for folder in 775 755; do
    for name in tcpip.conf tcpip.conf.new; do
        for kind in fifo symlink hardlink; do
            fresh && mkdir /etc/quorrel && chmod "$folder" /etc/quorrel
            case $kind in
            fifo) mkfifo "/etc/quorrel/$name" ;;
            symlink) ln -s "$decoy" "/etc/quorrel/$name" ;;
            hardlink) ln "$decoy" "/etc/quorrel/$name" ;;
            esac
            before=$(state)
            if [ "$folder" = 775 ] || [ "$name/$kind" = tcpip.conf/fifo ] ||
                [ "$name/$kind" = tcpip.conf/symlink ]; then
                check "a $kind as $name in a $folder folder: refused" ends 6 tcpip set ttl=100
                check "and nothing is touched" is "$before"
            else
                check "a $kind as $name in a $folder folder: passed over" tcpip set ttl=100
            fi
            check "and the file it leads to is as it was" shows "600 decoy" \
                bash -c "echo \$(stat -c %a $decoy) \$(cat $decoy)"
            chmod 755 /etc/quorrel && tcpip reset 2>/dev/null; rm -f "/etc/quorrel/$name"
        done
    done
done
fresh

# Twenty at once, each with values of its own: one after another, and what is left agrees.
for i in $(seq 10 29); do
    tcpip set mtu=10$i mss=5$i window=40$i ttl=1$i 2>/dev/null || echo "$i" >>"$work/failed" &
done
wait
check "twenty sets at once all end well" test ! -e "$work/failed"
i=$(sed -n 's/^ttl=1//p' /etc/quorrel/tcpip.conf)
check "and the link, the route, the TTL, the configuration and the drop-in agree" is \
    "10$i | default via 10.9.0.2 dev ppp0 metric 100 window 40$i advmss 5$i | 1$i | link=ppp0\
 mtu=10$i mss=5$i window=40$i ttl=1$i before.mtu=1400 before.ttl=64 net.ipv4.ip_default_ttl = 1$i"
check "reset after them puts back what was there before the first" gives "$untouched" reset

# A step that the system refuses, or a file that cannot be written: everything goes back.
for readonly in /proc/sys/net/ipv4/ip_default_ttl /etc/sysctl.d; do
    mount --bind "$readonly" "$readonly" && mount -o remount,bind,ro "$readonly"
    check "with $readonly read-only, set is refused" fails tcpip set mtu=576 mss=536 window=4388 ttl=128
    check "and the link and the files are as they were" is "$untouched"
    umount "$readonly"
done

# Routes that are not replayed word for word: their other metrics and locks stay.
routes() { ip -4 -o route show default | xargs; }
routesAfter() { tcpip "$@" && routes; }
for row in "via 10.9.0.2 dev ppp0 metric 100 advmss lock 1400 initcwnd 10|default via 10.9.0.2 dev\
 ppp0 metric 100 window 4388 advmss lock 536 initcwnd 10" "nhid 12 metric 100|default nhid 12 via\
 10.9.0.2 dev ppp0 metric 100 window 4388 advmss 536"; do
    ip nexthop replace id 12 via 10.9.0.2 dev ppp0 && ip route replace default ${row%|*}
    before=$(routes)
    check "on a route ${row%|*}, set changes only advmss and window" \
        shows "${row#*|}" routesAfter set mss=536 window=4388
    check "and reset puts the route back" shows "$before" routesAfter reset
    ip route del default && up
done

# Values for ppp0 stay on ppp0 while another link comes and goes.
eth9 add 50
check "with eth9's default route listed first, the values still go to ppp0" \
    gives "${optimized/default via 10.9.0.2/default via 10.8.0.2 dev eth9 metric 50 default via 10.9.0.2}" \
    set mtu=576 mss=536 window=4388 ttl=128
ip link set ppp0 down
tcpip apply eth9; tcpip apply
check "eth9 coming up while ppp0 is down is left alone" shows "1500 | default via 10.8.0.2 dev eth9 metric 50" \
    bash -c 'echo $(cat /sys/class/net/eth9/mtu) "|" $(ip -4 -o route show default)'
up && tcpip reset && ip link del eth9 && eth9 prepend 100
check "a second default route with ppp0's metric, which a change could reach: refused" \
    fails tcpip set mss=536
ip link del eth9

# The package's maintainer scripts, as dpkg runs them.
tcpip set mtu=576 mss=536 window=4388 ttl=128
check "prerm on an upgrade keeps the values" bash -c "'$scripts/prerm' upgrade && [ \"\$(cat /etc/quorrel/tcpip.conf)\" ]"
check "prerm and postrm on removal leave the system as it was" bash -c \
    "'$scripts/prerm' remove && '$scripts/postrm' remove && '$scripts/postrm' purge"
check "and nothing of Quorrel's in /etc" is "$untouched"
check "and no folder" test ! -e /etc/quorrel

# The window: refused by a pkexec that records its arguments, then with the
# right to change the network.
printf '#!/bin/sh\necho "$@" >"%s"\n[ -e "%s" ] || exit 126\necho "%s" >&2\nexit 127\n' \
    "$work/pkexec.log" "$work/no-agent" \
    "Error executing command as another user: No authentication agent found." >"$work/bin/pkexec" &&
    chmod +x "$work/bin/pkexec"
export QUORREL_TCPIP_HELPER=$helper
for row in refused noAgent; do
    [ "$row" = noAgent ] && touch "$work/no-agent"
    check "the page tells: $row" env PATH="$work/bin:$PATH" \
        setpriv --inh-caps=-net_admin --bounding-set=-net_admin "$optimizer" theRunningSystem:$row
done
check "it asked pkexec once for all values" test "$(cat "$work/pkexec.log")" = \
    "$helper set mtu=576 mss=536 window=4388 ttl=128 linkmtu=576"
check "and nothing changed" is "$untouched"
check "the page optimizes the running system" "$optimizer" theRunningSystem:direct
check "which holds the values" is "$optimized"
ip route del default
check "without a default route the helper refuses" fails tcpip set mtu=576
[ "$failures" -eq 0 ]
