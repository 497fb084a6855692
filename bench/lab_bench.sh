# Shared by the benchmarks that time Kelvo against ldapmodify on a lab domain
# controller.  Source it after setting `here` (the bench folder); call
# start_bench_lab ADDRESS.  It makes `work` (a temporary folder, removed on
# exit with the lab), starts the lab, and sets the lab's variables, `uri` and
# LDAPTLS_CACERT.  measure CMD... prints "wall user sys" of one run.

work=$(mktemp -d)
lab=$work/lab
cleanup() {
    bash "$here/../tests/lab/samba_lab.sh" stop "$lab" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

start_bench_lab() { # address
    bash "$here/../tests/lab/samba_lab.sh" start "$lab" "$1" >/dev/null
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
    ldapadd -c -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/add.ldif" >/dev/null
}

measure() { # wall user sys
    /usr/bin/time -f '%e %U %S' -o "$work/t" "$@" >/dev/null 2>"$work/err" || {
        cat "$work/err" >&2
        return 1
    }
    tail -n 1 "$work/t"
}

faster() { # best-so-far new: prints the measurement with the shorter wall time
    printf '%s\n%s\n' "$1" "$2" | sed '/^$/d' | sort -n | head -1
}
