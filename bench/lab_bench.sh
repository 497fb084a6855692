# Shared by the benchmarks.  Source it after setting `here` (the bench
# folder).  It makes `work` (a temporary folder, removed on exit, with the lab
# when one was started) and gives:
#
#   start_bench_lab ADDRESS    starts a lab domain controller (on
#                              BENCH_LAB_ADDR when set, else on ADDRESS) and
#                              sets the lab's variables, `uri` and
#                              LDAPTLS_CACERT
#   create_objects ...         objects to work on (see below)
#   measure CMD...             prints "wall user sys" of one run of CMD
#   faster A B                 the measurement with the shorter wall time
#
# and the checks that keep a benchmark from timing work that was not done.
# A failed check prints "FAIL: ..." and ends the benchmark with status 1 (in
# a command substitution it fails the assignment, which ends the script under
# `set -e`):
#
#   bench_fail MESSAGE
#   require_kelvo BINARY       BINARY exists and runs as Kelvo (-appver)
#   kelvo_measure OUT CMD...   measure, with CMD's output kept in OUT
#   check_kelvo_done OUT COUNT the run in OUT reported COUNT objects done and
#                              completed successfully
#   check_values ATTR VALUE DN...  each DN holds exactly one ATTR, VALUE
#   sample_dns COUNT FORMAT    the first, a middle and the last of COUNT DNs
#                              made by printf FORMAT from 0 .. COUNT-1

work=$(mktemp -d)
lab=$work/lab
cleanup() {
    if [ -d "$lab" ]; then bash "$here/../tests/lab/samba_lab.sh" stop "$lab" >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

bench_fail() { # message
    echo "FAIL: $*" >&2
    exit 1
}

require_kelvo() { # binary
    [ -f "$1" ] && [ -x "$1" ] || bench_fail "not an executable: $1"
    local out
    out=$("$1" -appver 2>&1) || bench_fail "$1 -appver did not run: $(head -c 300 <<<"$out")"
    grep -q 'BUILD' <<<"$out" || bench_fail "$1 does not answer -appver as Kelvo does"
}

start_bench_lab() { # address (BENCH_LAB_ADDR, when set, overrides it)
    local address=${BENCH_LAB_ADDR:-$1}
    bash "$here/../tests/lab/samba_lab.sh" start "$lab" "$address" >/dev/null ||
        bench_fail "the lab did not start on $address"
    # shellcheck disable=SC1091
    source "$lab/lab.env"
    export LDAPTLS_CACERT=$LAB_CACERT
    uri=ldaps://$LAB_HOST
}

create_objects() { # count ou class [attribute line]: objects CN=b00000... of the class
    # below a new OU (groups get a sAMAccountName), and $work/dns.txt listing them
    python3 - "$1" "$2" "$3" "$work" "${4:-}" <<'PY'
import sys
n, ou, cls, work, extra = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
with open(f"{work}/add.ldif", "w") as f:
    f.write(f"dn: {ou}\nobjectClass: organizationalUnit\n\n")
    for i in range(n):
        lines = [f"dn: CN=b{i:05d},{ou}", f"objectClass: {cls}"]
        if cls == "group":
            lines.append(f"sAMAccountName: bench{i:05d}")
        if extra:
            lines.append(extra)
        f.write("\n".join(lines) + "\n\n")
with open(f"{work}/dns.txt", "w") as f:
    for i in range(n):
        f.write(f"CN=b{i:05d},{ou}\n")
PY
    echo "creating $1 objects..."
    ldapadd -c -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/add.ldif" >/dev/null ||
        bench_fail "ldapadd could not create the $1 objects"
}

measure() { # wall user sys
    local rc=0
    /usr/bin/time -f '%e %U %S' -o "$work/t" "$@" >/dev/null 2>"$work/err" || rc=$?
    if [ "$rc" -ne 0 ]; then
        tail -n 20 "$work/err" >&2
        bench_fail "$1 exited with status $rc"
    fi
    tail -n 1 "$work/t"
}

kelvo_measure() { # out command...: like measure; the command's output (both streams) in out
    local out=$1 rc=0
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/t" "$@" >"$out" 2>&1 || rc=$?
    if [ "$rc" -ne 0 ]; then
        tail -n 20 "$out" >&2
        bench_fail "kelvo exited with status $rc (output: $out)"
    fi
    tail -n 1 "$work/t"
}

check_kelvo_done() { # out count
    local done
    done=$(grep -c '^   DN: .*\.\.\.$' "$1" || true)
    if [ "$done" -ne "$2" ]; then
        grep -m 5 -A 3 'ERROR' "$1" >&2 || true
        bench_fail "kelvo reported $done of $2 objects done ($1)"
    fi
    grep -q '^The command completed successfully\.$' "$1" ||
        bench_fail "kelvo did not report a completed run ($1)"
}

check_values() { # attribute value dn...: each DN holds exactly that one value
    local attr=$1 want=$2 dn got
    shift 2
    for dn in "$@"; do
        got=$(ldapsearch -LLL -o ldif-wrap=no -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" \
            -s base -b "$dn" "$attr" | sed -n "s/^$attr: //Ip") ||
            bench_fail "cannot read $attr of $dn"
        [ "$got" = "$want" ] || bench_fail "$dn holds $attr [$got], expected [$want]"
    done
}

sample_dns() { # count format
    local i
    for i in 0 $(($1 / 2)) $(($1 - 1)); do
        # shellcheck disable=SC2059
        printf "$2\n" "$i"
    done | sort -u
}

faster() { # best-so-far new: prints the measurement with the shorter wall time
    printf '%s\n%s\n' "$1" "$2" | sed '/^$/d' | sort -n | head -1
}
