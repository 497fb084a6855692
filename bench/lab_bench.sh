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
