#!/usr/bin/env bash
# A first look at Kelvo on a fresh Debian machine: installs what is needed,
# builds Kelvo, starts a throwaway Active Directory domain controller on a
# loopback address, makes a few real changes (a replace, a multi-value add, a
# clear and a change that fails) and stops the lab again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tests/lab/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"

lab=$(mktemp -d /tmp/kelvo-demo.XXXXXX)
trap 'bash "$root/tests/lab/samba_lab.sh" stop "$lab/dc" >/dev/null 2>&1 || true; rm -rf "$lab"' EXIT
echo
echo "== starting a lab Active Directory domain controller on 127.0.0.51"
bash tests/lab/samba_lab.sh start "$lab/dc" 127.0.0.51 >/dev/null
# shellcheck disable=SC1091
source "$lab/dc/lab.env"
export LDAPTLS_CACERT=$LAB_CACERT KRB5_CONFIG KRB5CCNAME

user="CN=Demo User,CN=Users,$LAB_BASE"
ldapadd -x -H "ldaps://$LAB_HOST" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" >/dev/null <<LDIF
dn: $user
objectClass: contact
LDIF

show() {
    echo
    printf '$ kelvo'
    printf ' %q' "$@"
    echo
    ./build/kelvo "$@" || echo "(exit status $?)"
}
conn=(-h "$LAB_HOST")   # Kerberos bind from the lab's ticket cache

show "${conn[@]}" -b "$user" "description::Replaced by Kelvo"
show "${conn[@]}" -b "$user" "otherTelephone:++:555-0100;555-0101;555-0102"
show "${conn[@]}" -b "$user" "description:-"
show "${conn[@]}" -b "$user" "otherTelephone:-:555-0199"

echo
echo "== the object as the directory holds it now"
ldapsearch -LLL -x -H "ldaps://$LAB_HOST" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" \
    -b "$user" -s base description otherTelephone
echo "== stopping the lab"
