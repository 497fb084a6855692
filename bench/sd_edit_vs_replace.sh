#!/usr/bin/env bash
# A descriptor edit against a plain replace, per object: COUNT (default 1000)
# groups in a lab Active Directory each get "{GETSD}{+D=...}" (one read and one
# write per object) and, in the same run, a plain description replace (one
# write), both from a piped DN list over one LDAPS session.  Each runs three
# times, alternating, with a different ACE each time; the better run counts.
#
#   bench/sd_edit_vs_replace.sh [BINARY] [COUNT]
#
# Reports wall time per object of both and their ratio (target <= 2.2), and
# fails when a run did not finish or the directory does not hold what the
# last runs wrote.  Starts its own lab on 127.0.0.43 and stops it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-1000}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"
start_bench_lab 127.0.0.43
ou="OU=sdbench,$LAB_BASE"

create_objects "$count" "$ou" group

kelvo_run() { # action...
    kelvo_measure "$work/out" "$bin" -unsafe -h "$LAB_HOST" -ssl -simple \
        -u "$LAB_ADMIN_UPN" -up "$LAB_PASSWORD" "$@" <"$work/dns.txt"
    check_kelvo_done "$work/out" "$count"
}

rights=(RP LO RC)
best_sd=""; best_plain=""
for run in 1 2 3; do
    right=${rights[$((run - 1))]}
    s=$(kelvo_run -sd "{+D=(A;;$right;;;WD)}")
    p=$(kelvo_run description::"plain $run")
    echo "run $run: descriptor edit wall/user/sys $s   plain replace $p"
    best_sd=$(faster "$best_sd" "$s")
    best_plain=$(faster "$best_plain" "$p")
done

# The directory must hold what the last runs wrote, on the first and last object.
for i in 0 $((count - 1)); do
    dn=$(printf 'CN=b%05d,%s' "$i" "$ou")
    ldapsearch -LLL -o ldif-wrap=no -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" \
        -E '!1.2.840.113556.1.4.801=::MAMCAQQ=' -b "$dn" -s base '(objectClass=*)' \
        nTSecurityDescriptor description >"$work/read" || bench_fail "cannot read $dn"
    grep -q '^description: plain 3$' "$work/read" || bench_fail "no plain value on $dn"
    /usr/bin/python3 - "$work/read" <<'PY' ||
import base64, sys
from samba.dcerpc import security
from samba.ndr import ndr_unpack
for line in open(sys.argv[1]):
    if line.lower().startswith("ntsecuritydescriptor:: "):
        sd = ndr_unpack(security.descriptor, base64.b64decode(line.split(":: ", 1)[1]))
        wanted = [a for a in sd.dacl.aces if a.type == 0 and a.access_mask == 0x20000
                  and str(a.trustee) == "S-1-1-0" and not a.flags & 0x10]
        sys.exit(0 if wanted else 1)
sys.exit(1)
PY
        bench_fail "no ACE on $dn"
done

read -r sw su ss <<<"$best_sd"
read -r pw pu ps <<<"$best_plain"
awk -v n="$count" -v sw="$sw" -v su="$su" -v ss="$ss" -v pw="$pw" -v pu="$pu" -v ps="$ps" 'BEGIN {
    printf "objects:                    %d\n", n
    printf "descriptor edit per object: %.0f us (client CPU %.0f us)\n", sw * 1e6 / n, (su + ss) * 1e6 / n
    printf "plain replace per object:   %.0f us (client CPU %.0f us)\n", pw * 1e6 / n, (pu + ps) * 1e6 / n
    printf "ratio:                      %.2f (target <= 2.2)\n", sw / pw
}'
