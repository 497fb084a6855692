#!/usr/bin/env bash
# Runs the generated bash completion as bash runs it at <Tab>: COMP_LINE
# holds the command line up to the cursor, and the replies are what bash
# puts in (after the last ':' of the word, as bash replaces only that part).
set -u
export LC_ALL=C
script=$1
# shellcheck source=/dev/null
source "$script" || exit 1
complete -p kelvo >/dev/null || {
    echo "the script does not register a completion for kelvo"
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/staff.csv" "$work/stafflist.txt"

# Replies for the command line $1, sorted, on one line.
replies() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    read -r -a COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kelvo kelvo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

status=0
check() {
    local line=$1 want=$2 got
    got=$(replies "$line")
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$line<Tab>' gave [$got], expected [$want]"
        status=1
    fi
}

# line                                   expected replies
check "kelvo -sslig"                     "-sslignoresrvcert"
check "kelvo -sc ad-"                    "ad-disable ad-enable"
check "kelvo -sc sdreset"                "sdreset sdresetdelprot"
check "kelvo --he"                       "--help"
check "kelvo --vers"                     "--version"
check "kelvo -b cn=x -upt"               "-upto"
check "kelvo -SC ad-en"                  "ad-enable"
check "kelvo -csvmodnull "               "clear ignore"
check "kelvo -stdinsort c"               "cialpha csalpha"
check "kelvo -stdinsort -stdinsortr"     "-stdinsortreverse"
check "kelvo -h "                        ""
check "kelvo -h -ss"                     "-ssl -sslignoresrvcert"
check "kelvo -up "                       ""
check "kelvo -??"                        "-\\?\\? -\\?\\?\\?\\?"
check "kelvo -delobjs"                   "-delobjs -delobjs+"
check "kelvo -b cn=x description:"       "++: +-: +: - --: -: :"
check "kelvo -b cn=x description:+"      "++: +-: +:"
check "kelvo -b cn=x description::x"     ""
check "kelvo -csvfile $work/staf"        "$work/staff.csv $work/stafflist.txt"
check "kelvo -log $work/staff."          "$work/staff.csv"
check "kelvo department::x < $work/staffl" "$work/stafflist.txt"
exit $status
