#!/usr/bin/env bash
# install-deps.sh - install what Kelvo's build and its lab directory servers
# need on Debian 12 (run as root; needs no input; safe to run again).
#
# When every package is already installed it does nothing (no network).
# Otherwise it refreshes the package lists only if they are missing or older
# than a day (or when the first install attempt fails), then installs.
# Package scripts may not start any service meanwhile: /usr/sbin/policy-rc.d
# answers 101 ("action forbidden") for the duration.  An existing policy-rc.d
# that already does so is left alone; any other one is moved aside and put
# back afterwards.  The labs (slapd_lab.sh, samba_lab.sh) start their own
# private servers; the system slapd/samba services stay stopped.
#
# For testing this script: KELVO_DEPS_DRY_RUN=1 only simulates the install,
# KELVO_DEPS_EXTRA="pkg ..." adds packages, KELVO_POLICY_RC=FILE replaces the
# policy-rc.d path.

set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
    # build
    build-essential g++ cmake ninja-build pkg-config clang-format
    # the fuzz tests: clang with the libFuzzer runtime
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev
    libldap-dev libsasl2-dev libkrb5-dev libssl-dev
    # SASL mechanisms used by the client: DIGEST-MD5, NTLM, GSSAPI, GSS-SPNEGO
    libsasl2-modules libsasl2-modules-gssapi-mit gss-ntlmssp
    # lab servers and client tools
    slapd ldap-utils
    samba samba-ad-dc samba-dsdb-modules python3-samba winbind
    krb5-user openssl iproute2 procps util-linux coreutils libc-bin tzdata python3
    # the manual page and completion tests: man, groff, bash-completion, zsh
    man-db groff-base bsdextrautils bash-completion zsh
)

log() { printf 'install-deps: %s\n' "$*" >&2; }

[ "$(id -u)" -eq 0 ] || {
    log "must run as root"
    exit 1
}

# KELVO_DEPS_EXTRA adds package names (space separated), e.g. for testing.
read -r -a extra <<<"${KELVO_DEPS_EXTRA:-}"
PACKAGES+=("${extra[@]}")

missing=()
for p in "${PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)" != installed ]; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    log "all packages are installed"
    exit 0
fi
log "installing: ${missing[*]}"

# Keep services from starting while packages are configured.
POLICY=${KELVO_POLICY_RC:-/usr/sbin/policy-rc.d}
policy_saved=
policy_created=
restore_policy() {
    if [ -n "$policy_created" ]; then
        rm -f "$POLICY"
    fi
    if [ -n "$policy_saved" ]; then
        mv -f "$policy_saved" "$POLICY"
    fi
}
trap restore_policy EXIT
policy_rc=0
if [ -x "$POLICY" ]; then
    "$POLICY" kelvo-probe start </dev/null >/dev/null 2>&1 || policy_rc=$?
fi
if [ "$policy_rc" -ne 101 ]; then
    if [ -e "$POLICY" ]; then
        policy_saved=$(mktemp "$POLICY.kelvo.XXXXXX")
        mv -f "$POLICY" "$policy_saved"
    fi
    printf '#!/bin/sh\n# temporary, from Kelvo install-deps.sh\nexit 101\n' >"$POLICY"
    chmod 755 "$POLICY"
    policy_created=1
fi

lists_fresh() {
    local f
    f=$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit 2>/dev/null)
    [ -n "$f" ]
}

APT_OPTS=(-y -q -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
if [ -n "${KELVO_DEPS_DRY_RUN:-}" ]; then
    APT_OPTS+=(--simulate)
fi
if ! lists_fresh && [ -z "${KELVO_DEPS_DRY_RUN:-}" ]; then
    log "refreshing package lists"
    apt-get update -q </dev/null
fi
if ! apt-get install "${APT_OPTS[@]}" "${missing[@]}" </dev/null; then
    [ -z "${KELVO_DEPS_DRY_RUN:-}" ] || exit 1
    log "install failed; refreshing package lists and retrying once"
    apt-get update -q </dev/null
    apt-get install "${APT_OPTS[@]}" "${missing[@]}" </dev/null
fi

# gss-ntlmssp registers itself with GSSAPI through this file; the NTLM lab
# binds (GSS-SPNEGO carrying NTLMv2) depend on it.
if ! grep -rqs gssntlmssp /etc/gss/mech.d /etc/gss/mech; then
    log "warning: gss-ntlmssp is not registered in /etc/gss/mech.d; NTLM over GSS-SPNEGO will not work"
fi
log "done"
