#!/usr/bin/env bash
# Requests in flight against a server in another site: COUNT (default 5000)
# objects each get one replace over one session, driven by a piped DN list
# (Kelvo) or the equivalent LDIF (ldapmodify), through bench/latency_proxy.py,
# a loopback relay that delays each direction by DELAY_MS (default 2.5, a 5 ms
# round trip), through a second relay that adds no delay, and directly.
#
#   bench/parallel_vs_ldapmodify.sh [BINARY] [COUNT] [DELAY_MS]
#
# On the lab Active Directory (LDAPS, simple bind) Kelvo -parallel 16 runs
# against ldapmodify and against a bare libldap loop keeping as many replaces
# in flight (build/bench/inflight_reference, the reference of what server and
# network allow), twice each, alternating; the better run counts.  Targets:
# at most 0.25 of ldapmodify's wall time at 5 ms round trip, at most 0.6
# through the relay adding no delay; the direct figures are for information.
# Then the curve of Kelvo's wall time over -parallel 1, 2, 4, 8, 16 and 32 at
# the added delay.  The same on the lab slapd (plain LDAP,
# a multi-threaded server), reported without targets.  Every run is checked:
# Kelvo reported every object and completed, ldapmodify exited 0, and the
# directory holds the value the run wrote on every object.  Exits non-zero
# when a check or a target fails.  Starts its own labs on 127.0.84.51 and
# 127.0.84.52 (in /dev/shm when it is writable) and stops them, and the
# relays, again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-5000}
delay=${3:-2.5}
# The labs live in memory where it can be had: on disk each write waits for
# the machine's disk flush (tens of milliseconds on a virtual disk), which
# then bounds any client, and the figures would measure the disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
else
    echo "note: /dev/shm is not writable; the labs are on disk" >&2
fi
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"

slapd_lab=$work/slapd
proxies=()
stop_all() {
    for pid in "${proxies[@]}"; do kill "$pid" 2>/dev/null || true; done
    bash "$here/../tests/lab/slapd_lab.sh" stop "$slapd_lab" >/dev/null 2>&1 || true
    cleanup
}
trap stop_all EXIT

start_proxy() { # listen-port target-port delay-ms
    python3 "$here/latency_proxy.py" "$LAB_ADDR" "$1" "$LAB_ADDR" "$2" "$3" \
        >"$work/proxy-$1.out" &
    proxies+=("$!")
    for _ in $(seq 50); do
        grep -q ready "$work/proxy-$1.out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the latency relay on port $1 did not start" >&2
    exit 1
}

write_inputs() { # ou
    python3 - "$count" "$1" "$work" <<'PY'
import sys
n, ou, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
with open(f"{work}/dns.txt", "w") as f:
    for i in range(n):
        f.write(f"CN=b{i:05d},{ou}\n")
PY
}

ldif_for() { # value: the ldapmodify input writing `value`
    sed "s/\$/\nchangetype: modify\nreplace: description\ndescription: $1\n-\n/; s/^/dn: /" \
        "$work/dns.txt" >"$work/modify.ldif"
}

# The objects below `ou` whose description is `value`, by a paged search.
holding() { # value
    ldapsearch -LLL -o ldif-wrap=no "${client[@]}" -E pr=1000/noprompt -b "$ou" -s one \
        "(description=$1)" 1.1 2>/dev/null | grep -c '^dn: ' || true
}

check_directory() { # run value
    local n
    n=$(holding "$2")
    if [ "$n" -ne "$count" ]; then
        echo "after run $1 the directory holds '$2' on $n of $count objects" >&2
        exit 1
    fi
}

kelvo_run() { # name target parallel
    local name=$1 target=$2 width=$3
    local t
    t=$(measure sh -c "'$bin' -unsafe ${kelvo_args[*]} -h '$target' -parallel $width \
        description::'k $name' < '$work/dns.txt' > '$work/out-$name.txt'") || {
        echo "Kelvo run $name failed" >&2
        exit 1
    }
    local shown
    shown=$(grep -c '   DN: ' "$work/out-$name.txt" || true)
    if [ "$shown" -ne "$count" ] || ! grep -q 'completed successfully' "$work/out-$name.txt"; then
        echo "Kelvo run $name reported $shown of $count objects" >&2
        exit 1
    fi
    check_directory "$name" "k $name"
    echo "$t"
}

ldapmodify_run() { # name uri
    ldif_for "l $1"
    local t
    t=$(measure ldapmodify "${client_bind[@]}" -H "$2" -f "$work/modify.ldif") || {
        echo "ldapmodify run $1 failed" >&2
        exit 1
    }
    check_directory "$1" "l $1"
    echo "$t"
}

# The bare libldap loop with the same width, as the reference of what the
# server and the network allow (built next to Kelvo).
reference=$(dirname "$bin")/bench/inflight_reference
[ -x "$reference" ] || reference=""

reference_run() { # name uri width
    local t
    t=$(measure "$reference" "$2" "${client_who[@]}" "$work/dns.txt" "$3" "r $1") || {
        echo "reference run $1 failed" >&2
        exit 1
    }
    check_directory "$1" "r $1"
    echo "$t"
}

failed=0
# One way to reach the server: two rounds of ldapmodify, Kelvo -parallel 16
# and the reference, alternating; prints "ldapmodify kelvo reference" walls.
compare() { # label name kelvo-target uri
    local bl="" bk="" br="" l k r="" run
    for run in 1 2; do
        l=$(ldapmodify_run "$2$run" "$4")
        k=$(kelvo_run "$2$run" "$3" 16)
        [ -z "$reference" ] || r=$(reference_run "$2$run" "$4" 16)
        echo "$1, run $run: ldapmodify $l   kelvo -parallel 16 $k   reference ${r:-none}" >&2
        bl=$(faster "$bl" "$l")
        bk=$(faster "$bk" "$k")
        [ -z "$r" ] || br=$(faster "$br" "$r")
    done
    echo "${bl%% *} ${bk%% *} ${br%% *}"
}

bench_server() { # label far-target relay-target near-target far-uri relay-uri near-uri targets
    local label=$1 far=$2 relay=$3 near=$4 far_uri=$5 relay_uri=$6 near_uri=$7 targets=$8
    local far_w relay_w near_w curve="" width k
    far_w=$(compare "$label, ${delay} ms each way" far "$far" "$far_uri")
    relay_w=$(compare "$label, relay adding nothing" relay "$relay" "$relay_uri")
    near_w=$(compare "$label, direct" near "$near" "$near_uri")
    for width in 1 2 4 8 16 32; do
        k=$(kelvo_run "curve$width" "$far" "$width")
        curve="$curve $width:$(cut -d' ' -f1 <<<"$k")"
    done
    awk -v label="$label" -v n="$count" -v d="$delay" -v far="$far_w" -v relay="$relay_w" \
        -v near="$near_w" -v curve="$curve" -v targets="$targets" '
    function line(what, walls, target,   w, ratio) {
        split(walls, w, " ")
        ratio = w[2] / w[1]
        printf "  %-30s ldapmodify %6.2f s, kelvo -parallel 16 %6.2f s, ratio %.3f", what, w[1], w[2], ratio
        if (w[3] != "") printf "; bare libldap loop %6.2f s (%.3f)", w[3], w[3] / w[1]
        if (target != "") printf " (target <= %s: %s)", target, ratio <= target ? "met" : "NOT met"
        printf "\n"
        return target == "" || ratio <= target
    }
    BEGIN {
        printf "%s, %d replaces, every run checked in the directory:\n", label, n
        ok = line(sprintf("%.1f ms round trip:", 2 * d), far, targets == "yes" ? "0.25" : "")
        ok = line("relay adding no delay:", relay, targets == "yes" ? "0.6" : "") && ok
        line("direct, no relay:", near, "")
        printf "  kelvo wall time over -parallel N at %.1f ms round trip:", 2 * d
        split(substr(curve, 2), points, " ")
        for (i = 1; i in points; ++i) { split(points[i], p, ":"); printf " N=%s %.2f s;", p[1], p[2] }
        printf "\n"
        exit ok ? 0 : 1
    }' || failed=1
}

# --- the lab Active Directory ---------------------------------------------
start_bench_lab 127.0.84.51
ou="OU=bench,$LAB_BASE"
create_objects "$count" "$ou" contact "description: start"
write_inputs "$ou"
client=(-x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD")
client_bind=(-x -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD")
client_who=("$LAB_ADMIN_UPN" "$LAB_PASSWORD")
kelvo_args=(-ssl -simple -u "'$LAB_ADMIN_UPN'" -up "'$LAB_PASSWORD'")
start_proxy 10636 636 "$delay"
start_proxy 20636 636 0
bench_server "Active Directory (Samba)" "$LAB_HOST:10636" "$LAB_HOST:20636" "$LAB_HOST" \
    "ldaps://$LAB_HOST:10636" "ldaps://$LAB_HOST:20636" "$uri" yes

# --- the lab slapd ----------------------------------------------------------
bash "$here/../tests/lab/slapd_lab.sh" start "$slapd_lab" 127.0.84.52 3890 >/dev/null
# shellcheck disable=SC1091
source "$slapd_lab/lab.env"
ou="ou=bench,$LAB_BASE"
slapd_uri="ldap://$LAB_ADDR:3890"
client=(-x -H "$slapd_uri" -D "$LAB_ADMIN_DN" -w "$LAB_PASSWORD")
client_bind=(-x -D "$LAB_ADMIN_DN" -w "$LAB_PASSWORD")
python3 - "$count" "$ou" >"$work/slapd-add.ldif" <<'PY'
import sys
n, ou = int(sys.argv[1]), sys.argv[2]
print(f"dn: {ou}\nobjectClass: organizationalUnit\nou: bench\n")
for i in range(n):
    print(f"dn: CN=b{i:05d},{ou}\nobjectClass: organizationalRole\ncn: b{i:05d}\ndescription: start\n")
PY
ldapadd "${client[@]}" -f "$work/slapd-add.ldif" >/dev/null
write_inputs "$ou"
client_who=("$LAB_ADMIN_DN" "$LAB_PASSWORD")
kelvo_args=(-simple -u "'$LAB_ADMIN_DN'" -up "'$LAB_PASSWORD'")
start_proxy 13890 3890 "$delay"
start_proxy 23890 3890 0
bench_server "OpenLDAP slapd" "$LAB_ADDR:13890" "$LAB_ADDR:23890" "$LAB_ADDR:3890" \
    "ldap://$LAB_ADDR:13890" "ldap://$LAB_ADDR:23890" "$slapd_uri" no
exit "$failed"
