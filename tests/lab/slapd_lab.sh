#!/usr/bin/env bash
# slapd_lab.sh - throwaway OpenLDAP directory for demos, integration tests and
# benchmarks.
#
#   slapd_lab.sh start DIR [ADDR [PORT]]   (defaults 127.0.0.12 3890)
#   slapd_lab.sh stop  DIR
#   slapd_lab.sh env   DIR
#
# start builds everything inside DIR (which must be absent, empty, or an old
# stopped lab folder): a small CA and server certificate, a cn=config tree
# (DIR/slapd.d, loaded with slapadd -n0), an mdb database (DIR/db) for
# dc=kelvo,dc=test with the dds overlay (dynamicObject / entryTtl), and a
# few entries.  slapd runs in the foreground mode (-d 0) in the background,
# listening only on ldap://ADDR:PORT and ldaps://ADDR:PORT+1; its pid is in
# DIR/lab.pid.  start waits (at most 30 s) for both ports to answer, writes
# DIR/lab.env and prints it.  On any failure it kills what it started and
# exits non-zero.  stop ends that one process (TERM, then KILL after 20 s).
#
# Binds that work (see lab.env for the values):
#   simple:     ldapsearch -x -H ldap://ADDR:PORT -D "$LAB_ADMIN_DN" -w "$LAB_PASSWORD"
#               (also -D "$LAB_DIGEST_DN" -w "$LAB_DIGEST_PASSWORD")
#   ldaps:      LDAPTLS_CACERT=$LAB_CACERT ldapsearch -x -H ldaps://ADDR:PORT+1 ...
#   StartTLS:   LDAPTLS_CACERT=$LAB_CACERT ldapsearch -ZZ -x -H ldap://ADDR:PORT ...
#   DIGEST-MD5: ldapsearch -Y DIGEST-MD5 -U "$LAB_DIGEST_USER" -w "$LAB_DIGEST_PASSWORD" ...
#               -U may also be the user's DN ("$LAB_DIGEST_DN"); SASL ids are
#               mapped to entries under ou=people by olcAuthzRegexp and checked
#               against the clear-text userPassword (olcSaslAuxprops: slapd).
#               (Cyrus SASL would also read /etc/ldap/sasl2/slapd.conf; the
#               lab needs none.  The server also lists GSSAPI, NTLM etc.,
#               which have no back end here.)
#   anonymous:  reads of the RootDSE and of the tree (not userPassword).
# Dynamic objects: the server refuses entryTtl in add and modify requests
# ("entryTtl: no user modification allowed"); add objectClass dynamicObject
# alone (the entry gets dds-default-ttl, 86400) and change the TTL with the
# refresh extended operation: ldapexop ... refresh DN 3600.  TTLs from 1 s to
# 31557600 s are accepted; expired entries are purged every 10 s.  Do not
# send entryTtl with the relax control: slapd 2.5.13 aborts (dds assertion).
# Environment: LAB_SLAPD_DEBUG=<level> replaces -d 0 (log in DIR/slapd.log),
# LAB_START_TIMEOUT=<seconds> replaces the 30 s start limit.

set -euo pipefail
LAB_SCRIPT=slapd_lab
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=SCRIPTDIR/lab-common.sh
. "$HERE/lab-common.sh"

SUFFIX=dc=kelvo,dc=test
ADMIN_DN=cn=admin,$SUFFIX
DIGEST_USER=kelvodigest
DIGEST_DN=cn=$DIGEST_USER,ou=people,$SUFFIX
DIGEST_PASSWORD='Kelvo.Digest.Pass.1'
START_TIMEOUT=${LAB_START_TIMEOUT:-30}

usage() {
    echo "usage: $0 start DIR [ADDR [PORT]] | stop DIR | env DIR" >&2
    exit 2
}

make_certs() {
    local dir=$1 addr=$2
    (
        cd "$dir/tls"
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
            -subj "/CN=Kelvo Lab CA $addr" -keyout ca.key -out ca.pem \
            -addext basicConstraints=critical,CA:TRUE \
            -addext keyUsage=critical,keyCertSign,cRLSign
        openssl req -newkey rsa:2048 -nodes -subj "/CN=$addr" \
            -keyout server.key -out server.csr
        printf '%s\n' "subjectAltName=IP:$addr,DNS:localhost" \
            basicConstraints=CA:FALSE \
            keyUsage=digitalSignature,keyEncipherment \
            extendedKeyUsage=serverAuth >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key \
            -CAcreateserial -days 3650 -extfile server.ext -out server.pem
        chmod 600 ca.key server.key
    ) >"$dir/log/openssl.log" 2>&1 || lab_die "certificate creation failed (see $dir/log/openssl.log)"
}

# The SASL identity of a DIGEST-MD5 user is
#   uid=NAME[,cn=REALM],cn=digest-md5,cn=auth
# where NAME is escaped (\3D for '=', \2C for ',') when the user gave a DN.
# Rule {0} maps a plain user name to the entry with that uid under
# ou=people; rule {1} accepts the DN form cn=NAME,ou=people,SUFFIX.  The
# patterns reach regcomp unchanged, so \\3D in the LDIF matches a literal
# backslash followed by 3D (the heredoc below doubles each backslash).
write_config() {
    local dir=$1 rootpw esc
    rootpw=$(slappasswd -s "$LAB_PASSWORD_DEFAULT")
    # Suffix as it appears inside an escaped SASL name, as a regex.
    esc=$(printf '%s' ",ou=people,$SUFFIX" | sed 's/=/\\\\3D/g; s/,/\\\\2C/g')
    cat >"$dir/config.ldif" <<EOF
dn: cn=config
objectClass: olcGlobal
cn: config
olcPidFile: $dir/run/slapd.pid
olcArgsFile: $dir/run/slapd.args
olcTLSCACertificateFile: $dir/tls/ca.pem
olcTLSCertificateFile: $dir/tls/server.pem
olcTLSCertificateKeyFile: $dir/tls/server.key
olcSaslAuxprops: slapd
olcAuthzRegexp: {0}"^uid=([^,\\\\]+)(,cn=[^,]+)?,cn=digest-md5,cn=auth\$" "ldap:///ou=people,$SUFFIX??one?(uid=\$1)"
olcAuthzRegexp: {1}"^uid=cn\\\\3D([^,\\\\]+)$esc(,cn=[^,]+)?,cn=digest-md5,cn=auth\$" "cn=\$1,ou=people,$SUFFIX"
olcLogLevel: none

dn: cn=module{0},cn=config
objectClass: olcModuleList
cn: module{0}
olcModulePath: /usr/lib/ldap
olcModuleLoad: {0}back_mdb
olcModuleLoad: {1}dds

dn: cn=schema,cn=config
objectClass: olcSchemaConfig
cn: schema

include: file:///etc/ldap/schema/core.ldif
include: file:///etc/ldap/schema/cosine.ldif
include: file:///etc/ldap/schema/nis.ldif
include: file:///etc/ldap/schema/inetorgperson.ldif

dn: olcDatabase={-1}frontend,cn=config
objectClass: olcDatabaseConfig
objectClass: olcFrontendConfig
olcDatabase: {-1}frontend
olcSizeLimit: 5000

dn: olcDatabase={0}config,cn=config
objectClass: olcDatabaseConfig
olcDatabase: {0}config
olcAccess: {0}to * by * none

dn: olcDatabase={1}mdb,cn=config
objectClass: olcDatabaseConfig
objectClass: olcMdbConfig
olcDatabase: {1}mdb
olcSuffix: $SUFFIX
olcRootDN: $ADMIN_DN
olcRootPW: $rootpw
olcDbDirectory: $dir/db
olcDbMaxSize: 1073741824
olcDbIndex: objectClass eq
olcDbIndex: uid,cn eq
olcDbIndex: entryExpireTimestamp eq
olcAccess: {0}to attrs=userPassword by self write by anonymous auth by * none
olcAccess: {1}to attrs=entryTtl by users manage by * read
olcAccess: {2}to * by users write by * read

dn: olcOverlay={0}dds,olcDatabase={1}mdb,cn=config
objectClass: olcOverlayConfig
objectClass: olcDDSConfig
olcOverlay: {0}dds
olcDDSmaxTtl: 31557600
olcDDSminTtl: 1
olcDDSdefaultTtl: 86400
olcDDSinterval: 10
EOF
    cat >"$dir/data.ldif" <<EOF
dn: $SUFFIX
objectClass: dcObject
objectClass: organization
dc: kelvo
o: Kelvo Lab

dn: ou=people,$SUFFIX
objectClass: organizationalUnit
ou: people

dn: ou=groups,$SUFFIX
objectClass: organizationalUnit
ou: groups

dn: $DIGEST_DN
objectClass: inetOrgPerson
cn: $DIGEST_USER
uid: $DIGEST_USER
sn: Digest
description: SASL DIGEST-MD5 test user (clear-text password on purpose)
userPassword: $DIGEST_PASSWORD

dn: cn=kelvogroup,ou=groups,$SUFFIX
objectClass: groupOfNames
cn: kelvogroup
member: $DIGEST_DN
EOF
}

do_start() {
    local dir=$1 addr=${2:-127.0.0.12} port=${3:-3890} sport pid i ok p
    if ! [[ $port =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65534 ]; then
        lab_die "bad port '$port'"
    fi
    sport=$((port + 1))
    lab_require_loopback "$addr"
    command -v slapd >/dev/null || lab_die "slapd is not installed (run install-deps.sh)"
    command -v ldapsearch >/dev/null || lab_die "ldapsearch is not installed (run install-deps.sh)"
    for p in "$port" "$sport"; do
        ! lab_port_busy "$addr" "$p" || lab_die "$addr:$p is already in use"
    done
    lab_prepare_dir "$dir"
    mkdir -p "$dir/slapd.d" "$dir/db" "$dir/run" "$dir/tls" "$dir/log"
    make_certs "$dir" "$addr"
    write_config "$dir"
    slapadd -n0 -F "$dir/slapd.d" -l "$dir/config.ldif" >"$dir/log/slapadd.log" 2>&1 ||
        lab_die "loading the configuration failed (see $dir/log/slapadd.log)"
    slapadd -q -n1 -F "$dir/slapd.d" -l "$dir/data.ldif" >>"$dir/log/slapadd.log" 2>&1 ||
        lab_die "loading the entries failed (see $dir/log/slapadd.log)"

    slapd -d "${LAB_SLAPD_DEBUG:-0}" -F "$dir/slapd.d" \
        -h "ldap://$addr:$port/ ldaps://$addr:$sport/" \
        </dev/null >"$dir/slapd.log" 2>&1 &
    pid=$!
    lab_record_pid "$dir" "$pid"

    ok=0
    for ((i = 0; i < START_TIMEOUT * 4; i++)); do
        if ! lab_pid_alive "$dir"; then
            break
        fi
        if lab_answers "ldap://$addr:$port" &&
            LDAPTLS_CACERT=$dir/tls/ca.pem lab_answers "ldaps://$addr:$sport"; then
            ok=1
            break
        fi
        sleep 0.25
    done
    if [ $ok -ne 1 ]; then
        if lab_pid_alive "$dir"; then
            lab_log "slapd did not answer on $addr:$port within ${START_TIMEOUT}s; last log lines:"
        else
            lab_log "slapd exited during start; last log lines:"
        fi
        tail -n 20 "$dir/slapd.log" >&2 || true
        lab_stop "$dir"
        exit 1
    fi

    {
        lab_env_line LAB_KIND slapd
        lab_env_line LAB_DIR "$dir"
        lab_env_line LAB_ADDR "$addr"
        lab_env_line LAB_HOST "$addr"
        lab_env_line LAB_PORT "$port"
        lab_env_line LAB_SSL_PORT "$sport"
        lab_env_line LAB_URI "ldap://$addr:$port"
        lab_env_line LAB_SSL_URI "ldaps://$addr:$sport"
        lab_env_line LAB_BASE "$SUFFIX"
        lab_env_line LAB_ADMIN_DN "$ADMIN_DN"
        lab_env_line LAB_PASSWORD "$LAB_PASSWORD_DEFAULT"
        lab_env_line LAB_DIGEST_USER "$DIGEST_USER"
        lab_env_line LAB_DIGEST_DN "$DIGEST_DN"
        lab_env_line LAB_DIGEST_PASSWORD "$DIGEST_PASSWORD"
        lab_env_line LAB_CACERT "$dir/tls/ca.pem"
        lab_env_line LAB_PID "$pid"
    } >"$dir/lab.env"
    cat "$dir/lab.env"
}

lab_main 4 "$@"
