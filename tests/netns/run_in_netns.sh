#!/bin/sh
# Runs a test program in a network namespace of its own, where it may join groups, send
# broadcasts and take links down without touching the host's network:
#   lo up with multicast, routes for 224.0.0.0/4 and ff00::/8 on it, and a veth pair
#   vvane0 (10.99.0.1/24, fd00:99::1/64) - vvane1 (10.99.0.2/24, fd00:99::2/64).
# Both ends live in the one namespace, so each accepts datagrams from the other's (local)
# source address (accept_local).
#
#   run_in_netns.sh PROGRAM [ARGS...]   the namespace, then the program in it
#   run_in_netns.sh --veth              (inside it) the veth pair made anew, for a test that
#                                       deleted it
#
# Where the system allows no network namespace, it says why and exits 77 (CTest's skip),
# except under CI (CI=true), where that is a failure.
set -u

skip() {
    echo "SKIP: $*" >&2
    if [ "${CI:-}" = true ]; then
        echo "CI=true: a namespace is required here" >&2
        exit 1
    fi
    exit 77
}

find_ip() {
    for candidate in "$(command -v ip 2>/dev/null)" /usr/sbin/ip /sbin/ip /usr/bin/ip; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
}

make_veth() {
    ip=$1
    "$ip" link add vvane0 type veth peer name vvane1 &&
        "$ip" addr add 10.99.0.1/24 brd + dev vvane0 &&
        "$ip" addr add 10.99.0.2/24 brd + dev vvane1 &&
        "$ip" -6 addr add fd00:99::1/64 dev vvane0 nodad &&
        "$ip" -6 addr add fd00:99::2/64 dev vvane1 nodad &&
        for link in vvane0 vvane1; do
            echo 1 >"/proc/sys/net/ipv4/conf/$link/accept_local" || return 1
        done &&
        "$ip" link set vvane0 up &&
        "$ip" link set vvane1 up
}

if [ "${1:-}" = --veth ]; then
    make_veth "$(find_ip)"
    exit
fi

if [ "${1:-}" = --inside ]; then
    shift
    ip=$(find_ip)
    {
        "$ip" link set lo up &&
            "$ip" link set lo multicast on &&
            "$ip" route add 224.0.0.0/4 dev lo &&
            "$ip" -6 route add ff00::/8 dev lo &&
            echo 1 >/proc/sys/net/ipv4/conf/all/accept_local &&
            make_veth "$ip"
    } || skip "the namespace's links could not be set up (veth, routes or accept_local refused)"
    VELVANE_NETNS=1
    VELVANE_NETNS_SCRIPT=$0
    export VELVANE_NETNS VELVANE_NETNS_SCRIPT
    exec "$@"
fi

[ $# -ge 1 ] || {
    echo "usage: $0 PROGRAM [ARGS...]" >&2
    exit 2
}
command -v unshare >/dev/null 2>&1 || skip "unshare (util-linux) is missing"
[ -n "$(find_ip)" ] || skip "ip (iproute2) is missing"
# A user namespace where it is allowed; plain root (a CI container) may only get a network one.
if unshare -rn true 2>/dev/null; then
    exec unshare -rn sh "$0" --inside "$@"
elif unshare -n true 2>/dev/null; then
    exec unshare -n sh "$0" --inside "$@"
fi
skip "this system allows no network namespace (unshare -rn and unshare -n both refused)"
