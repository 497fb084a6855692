#!/usr/bin/env bash
# samba_lab.sh - throwaway Samba Active Directory domain controller for demos,
# integration tests and benchmarks.
#
#   samba_lab.sh start DIR [ADDR]   (default ADDR 127.0.0.11)
#   samba_lab.sh stop  DIR
#   samba_lab.sh env   DIR
#
# start provisions a new domain inside DIR (DIR must be absent, empty, or an
# old stopped lab folder) and runs one `samba -i -M single` process bound only
# to ADDR (ports 88, 135, 389, 464, 636, 3268, 3269, 4915x); its pid is in
# DIR/lab.pid.  Every Samba path (private, state, cache, lock, pid, ncalrpc,
# winbindd and ntp_signd sockets, bind-dns, logs) is inside DIR and the
# machine's /etc/samba/smb.conf is never read, so labs never collide with each
# other or with a system Samba.  The only change outside DIR is one line in
# /etc/hosts, "ADDR FQDN SHORT", added when the name is absent and left there.
#
# Names: host kdc-B-C-D for ADDR 127.B.C.D (fits the 15-character NetBIOS
# limit), realm LAB.KELVO.TEST, NetBIOS domain LAB (override with
# KELVO_LAB_REALM / KELVO_LAB_DOMAIN to run two distinct domains at once).
# The domain has no password complexity, history or minimum/maximum age, and
# "old password allowed period = 0", so password set/change tests can repeat.
# The DC keeps Samba's defaults: simple binds need TLS (ldaps or StartTLS),
# SASL binds need sign and seal, NTLM must be NTLMv2.  Samba also refuses
# sign and seal inside TLS, so by default SASL binds work on 389 only;
# KELVO_LAB_STRONG_AUTH=allow_sasl_over_tls ("ldap server require strong
# auth") also admits Kerberos SASL binds without a security layer over
# ldaps/StartTLS (client side: -O maxssf=0, i.e. SASL_SECPROPS maxssf=0).
# Besides Administrator the domain has an ordinary user (LAB_USER_*).
#
# start waits (at most 90 s, LAB_START_TIMEOUT) for LDAP on 389 and 636,
# gets a Kerberos ticket for Administrator into DIR/krb5cc, writes DIR/lab.env
# and prints it (about 10 s in all, 6 s of it provisioning).  On failure it
# kills what it started and exits non-zero.  stop ends that one process
# (TERM, then KILL after 20 s); the folder stays for inspection.
#
# Binds that work (values from lab.env; FQDN = $LAB_HOST):
#   ldaps:     LDAPTLS_CACERT=$LAB_CACERT ldapsearch -x -H ldaps://FQDN -D "$LAB_ADMIN_UPN" -w ...
#              (by IP: LDAPTLS_REQCERT=never ldapsearch -x -H ldaps://ADDR ...)
#              -D also takes "$LAB_ADMIN_DN" or "$LAB_ADMIN_USER" (DOMAIN\name)
#   StartTLS:  LDAPTLS_CACERT=$LAB_CACERT ldapsearch -ZZ -x -H ldap://FQDN ...
#   plain simple bind on 389: refused, "Strong(er) authentication required"
#   GSSAPI / GSS-SPNEGO (Kerberos) from the ticket cache:
#              KRB5_CONFIG=$KRB5_CONFIG KRB5CCNAME=$KRB5CCNAME \
#                ldapsearch -Y GSSAPI -H ldap://FQDN ...     (or -Y GSS-SPNEGO)
#              (ldap://ADDR works too: the /etc/hosts line maps ADDR back to
#              FQDN, from which the client builds the ldap/FQDN service name)
#   NTLMv2 inside GSS-SPNEGO (Debian's gss-ntlmssp mechanism), no ticket:
#              KRB5_CONFIG=$KRB5_CONFIG KRB5CCNAME=FILE:/nonexistent \
#              NTLM_USER_FILE=$LAB_NTLM_USER_FILE ldapsearch -Y GSS-SPNEGO -H ldap://FQDN ...
#              (the file holds DOMAIN:user:password lines)
#   Cyrus SASL NTLM (-Y NTLM) is refused: it speaks NTLMv1 without signing.
# Administration: samba-tool ... -s "$LAB_SMB_CONF" (with -H ldap://FQDN
# -U "Administrator%$LAB_PASSWORD" it goes through the running server).

set -euo pipefail
LAB_SCRIPT=samba_lab
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=SCRIPTDIR/lab-common.sh
. "$HERE/lab-common.sh"

START_TIMEOUT=${LAB_START_TIMEOUT:-90}
REALM=${KELVO_LAB_REALM:-LAB.KELVO.TEST}
DOMAIN=${KELVO_LAB_DOMAIN:-LAB}
PASSWORD=$LAB_PASSWORD_DEFAULT
USER_NAME=kelvouser
USER_PASSWORD='Kelvo.User.Pass.1'

usage() {
    echo "usage: $0 start DIR [ADDR] | stop DIR | env DIR" >&2
    exit 2
}

# add_hosts_line ADDR FQDN SHORT: make FQDN resolve to ADDR.
add_hosts_line() {
    local addr=$1 fqdn=$2 short=$3 cur fd
    exec {fd}>>/etc/hosts
    flock -w 10 "$fd" || lab_die "could not lock /etc/hosts"
    cur=$(awk -v n="$fqdn" 'substr($1,1,1) != "#" { for (i = 2; i <= NF; i++) if (tolower($i) == n) { print $1; exit } }' /etc/hosts)
    if [ -z "$cur" ]; then
        if [ -s /etc/hosts ] && [ "$(tail -c1 /etc/hosts | od -An -c | tr -d ' ')" != '\n' ]; then
            echo >&"$fd"
        fi
        printf '%s %s %s\n' "$addr" "$fqdn" "$short" >&"$fd"
        lab_log "added '$addr $fqdn $short' to /etc/hosts"
    elif [ "$cur" != "$addr" ]; then
        exec {fd}>&-
        lab_die "/etc/hosts maps $fqdn to $cur, not $addr"
    fi
    exec {fd}>&-
    cur=$(getent hosts "$fqdn" | awk '{ print $1; exit }')
    [ "$cur" = "$addr" ] || lab_die "$fqdn resolves to '$cur', not $addr"
    cur=$(getent hosts "$addr" | awk '{ print tolower($2); exit }')
    [ "$cur" = "$fqdn" ] ||
        lab_log "warning: $addr resolves back to '$cur', not $fqdn; use the FQDN in LDAP URLs for Kerberos binds"
}

# fix_smb_conf DIR ADDR: keep every Samba path in DIR and trim the services.
fix_smb_conf() {
    local dir=$1 addr=$2 conf=$1/etc/smb.conf
    cat >"$dir/etc/lab-global.conf" <<EOF
	interfaces = $addr/8
	bind interfaces only = yes
	pid directory = $dir/run
	ncalrpc dir = $dir/run/ncalrpc
	winbindd socket directory = $dir/run/winbindd
	ntp signd socket directory = $dir/run/ntp_signd
	binddns dir = $dir/bind-dns
	log file = $dir/log/samba.log
	server services = ldap, cldap, kdc, rpc, drepl, kcc
	old password allowed period = 0
	tls enabled = yes
EOF
    if [ -n "${KELVO_LAB_STRONG_AUTH:-}" ]; then
        printf '\tldap server require strong auth = %s\n' "$KELVO_LAB_STRONG_AUTH" >>"$dir/etc/lab-global.conf"
    fi
    # Drop provision's copies of these keys, then add ours at the end of
    # [global] (the first section).
    awk -v extra="$dir/etc/lab-global.conf" '
        BEGIN {
            while ((getline l < extra) > 0) {
                block = block l "\n"
                k = l; sub(/^[ \t]*/, "", k); sub(/[ \t]*=.*/, "", k)
                keys[tolower(k)] = 1
            }
        }
        /^\[/ && !done && tolower($0) !~ /^\[global\]/ { printf "%s\n", block; done = 1 }
        {
            k = $0; sub(/^[ \t]*/, "", k); sub(/[ \t]*=.*/, "", k)
            if (!done && (tolower(k) in keys)) next
            print
        }
        END { if (!done) printf "%s", block }
    ' "$conf" >"$conf.new"
    mv "$conf.new" "$conf"
}

write_krb5_conf() {
    local dir=$1 addr=$2 dnsdomain=$3
    cat >"$dir/krb5.conf" <<EOF
[libdefaults]
	default_realm = $REALM
	dns_lookup_realm = false
	dns_lookup_kdc = false
	dns_canonicalize_hostname = false
	rdns = false
	udp_preference_limit = 1
	forwardable = true

[realms]
	$REALM = {
		kdc = $addr
		admin_server = $addr
		kpasswd_server = $addr
	}

[domain_realm]
	.$dnsdomain = $REALM
	$dnsdomain = $REALM
EOF
}

do_start() {
    local dir=$1 addr=${2:-127.0.0.11} o o1 o2 o3 short fqdn dnsdomain base pid i ok conf t0
    t0=$SECONDS
    lab_require_loopback "$addr"
    [[ $REALM =~ ^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+$ ]] || lab_die "bad realm '$REALM'"
    [[ $DOMAIN =~ ^[A-Za-z0-9-]{1,15}$ ]] || lab_die "bad NetBIOS domain '$DOMAIN'"
    for o in samba samba-tool kinit ldapsearch flock getent; do
        command -v "$o" >/dev/null || lab_die "$o is not installed (run install-deps.sh)"
    done
    for o in 88 389 636 3268; do
        ! lab_port_busy "$addr" "$o" || lab_die "$addr:$o is already in use"
    done

    REALM=${REALM^^}
    dnsdomain=${REALM,,}
    IFS=. read -r _ o1 o2 o3 <<<"$addr"
    short=kdc-$o1-$o2-$o3
    fqdn=$short.$dnsdomain
    base=dc=${dnsdomain//./,dc=}
    conf=$dir/etc/smb.conf

    lab_prepare_dir "$dir"
    mkdir -p "$dir/etc" "$dir/log" "$dir/run/ncalrpc" "$dir/run/winbindd" "$dir/run/ntp_signd"
    add_hosts_line "$addr" "$fqdn" "$short"

    # An empty config file keeps the machine's smb.conf out of the provision.
    : >"$conf"
    lab_log "provisioning $fqdn ($REALM) in $dir"
    if ! samba-tool domain provision -s "$conf" --targetdir="$dir" \
        --server-role=dc --dns-backend=NONE \
        --realm="$REALM" --domain="$DOMAIN" --host-name="$short" \
        --host-ip="$addr" --adminpass="$PASSWORD" \
        --option="interfaces=$addr/8" --option="bind interfaces only=yes" \
        </dev/null >"$dir/log/provision.log" 2>&1; then
        tail -n 20 "$dir/log/provision.log" >&2
        lab_die "provision failed (see $dir/log/provision.log)"
    fi
    fix_smb_conf "$dir" "$addr"

    # Work on the database directly while no server runs.  Without the
    # dnsupdate service nobody adds the ldap/ names Kerberos binds ask for.
    {
        for o in "ldap/$fqdn" "ldap/$short" "ldap/$fqdn/$dnsdomain" "ldap/$fqdn/$DOMAIN"; do
            samba-tool spn add "$o" "${short^^}\$" -s "$conf" || exit 1
        done
        samba-tool domain passwordsettings set -s "$conf" -H "$dir/private/sam.ldb" \
            --complexity=off --history-length=0 --min-pwd-age=0 --max-pwd-age=0 || exit 1
        samba-tool user create "$USER_NAME" "$USER_PASSWORD" -s "$conf" \
            -H "$dir/private/sam.ldb" --description="Kelvo lab ordinary user" || exit 1
    } </dev/null >"$dir/log/setup.log" 2>&1 || lab_die "domain setup failed (see $dir/log/setup.log)"

    write_krb5_conf "$dir" "$addr" "$dnsdomain"
    printf '%s:%s:%s\n' "$DOMAIN" Administrator "$PASSWORD" >"$dir/ntlm_user"
    chmod 600 "$dir/ntlm_user"

    samba -i -M single -s "$conf" </dev/null >"$dir/log/samba.out" 2>&1 &
    pid=$!
    lab_record_pid "$dir" "$pid"

    ok=0
    for ((i = 0; i < START_TIMEOUT * 2; i++)); do
        lab_pid_alive "$dir" || break
        if [ -s "$dir/private/tls/ca.pem" ] && lab_answers "ldap://$addr" &&
            LDAPTLS_REQCERT=never lab_answers "ldaps://$addr"; then
            ok=1
            break
        fi
        sleep 0.5
    done
    if [ $ok -eq 1 ]; then
        # The KDC may answer a moment after LDAP.
        ok=0
        for ((i = 0; i < 10; i++)); do
            if printf '%s\n' "$PASSWORD" |
                KRB5_CONFIG=$dir/krb5.conf KRB5CCNAME=FILE:$dir/krb5cc \
                    timeout 15 kinit "Administrator@$REALM" >>"$dir/log/kinit.log" 2>&1; then
                ok=1
                break
            fi
            sleep 1
        done
        [ $ok -eq 1 ] || lab_log "kinit for Administrator@$REALM failed (see $dir/log/kinit.log)"
    elif lab_pid_alive "$dir"; then
        lab_log "samba did not answer on $addr within ${START_TIMEOUT}s"
    else
        lab_log "samba exited during start"
    fi
    if [ $ok -ne 1 ]; then
        lab_log "last lines of $dir/log/samba.out:"
        tail -n 20 "$dir/log/samba.out" >&2 || true
        lab_stop "$dir"
        exit 1
    fi

    {
        lab_env_line LAB_KIND samba
        lab_env_line LAB_DIR "$dir"
        lab_env_line LAB_ADDR "$addr"
        lab_env_line LAB_HOST "$fqdn"
        lab_env_line LAB_SHORT_HOST "$short"
        lab_env_line LAB_PORT 389
        lab_env_line LAB_SSL_PORT 636
        lab_env_line LAB_GC_PORT 3268
        lab_env_line LAB_GC_SSL_PORT 3269
        lab_env_line LAB_URI "ldap://$fqdn"
        lab_env_line LAB_SSL_URI "ldaps://$fqdn"
        lab_env_line LAB_REALM "$REALM"
        lab_env_line LAB_DNS_DOMAIN "$dnsdomain"
        lab_env_line LAB_DOMAIN "$DOMAIN"
        lab_env_line LAB_BASE "$base"
        lab_env_line LAB_ADMIN_NAME Administrator
        lab_env_line LAB_ADMIN_DN "CN=Administrator,CN=Users,$base"
        lab_env_line LAB_ADMIN_UPN "Administrator@$dnsdomain"
        lab_env_line LAB_ADMIN_USER "$DOMAIN\\Administrator"
        lab_env_line LAB_PASSWORD "$PASSWORD"
        lab_env_line LAB_USER_NAME "$USER_NAME"
        lab_env_line LAB_USER_DN "CN=$USER_NAME,CN=Users,$base"
        lab_env_line LAB_USER_PASSWORD "$USER_PASSWORD"
        lab_env_line LAB_CACERT "$dir/private/tls/ca.pem"
        lab_env_line LAB_SMB_CONF "$conf"
        lab_env_line LAB_NTLM_USER_FILE "$dir/ntlm_user"
        lab_env_line KRB5_CONFIG "$dir/krb5.conf"
        lab_env_line KRB5CCNAME "FILE:$dir/krb5cc"
        lab_env_line LAB_PID "$pid"
    } >"$dir/lab.env"
    lab_log "ready after $((SECONDS - t0)) s"
    cat "$dir/lab.env"
}

lab_main 3 "$@"
