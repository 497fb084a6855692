#!/usr/bin/env bash
# The manual page renders at 80 columns without a warning from man or groff,
# and a reader finds the sections and switches by their plain names.
set -u
page=$1
command -v man >/dev/null || {
    echo "man is not installed (man-db, groff-base)"
    exit 1
}
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    echo "warnings from man -l $page:"
    echo "$warnings"
    exit 1
fi
text=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man -l "$page" 2>/dev/null | col -bx)
status=0
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "ATTRIBUTE ACTIONS" "TYPED VALUES" \
    "CSV AND EXPANSION" SHORTCUTS "SECURITY DESCRIPTORS" ENVIRONMENT FILES "EXIT STATUS" \
    EXAMPLES "SEE ALSO"; do
    grep -qx "$heading" <<<"$text" || {
        echo "no section $heading"
        status=1
    }
done
# Switches render as ASCII hyphen-minus, so that a search for -sslignoresrvcert
# finds them and a copied example runs.
for word in -sslignoresrvcert --help --version -sc -csvmodnull "kelvo -b"; do
    grep -qF -- "$word" <<<"$text" || {
        echo "the rendered page lacks $word"
        status=1
    }
done
# No line overflows the 80 columns it was rendered for.
export LC_ALL=C.UTF-8
while IFS= read -r line; do
    if [ ${#line} -gt 80 ]; then
        echo "wider than 80 columns: $line"
        status=1
    fi
done <<<"$text"
exit $status
