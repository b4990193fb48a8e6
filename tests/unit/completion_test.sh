#!/usr/bin/env bash
# The bash completion: what it offers after each kind of word.
#   completion_test.sh COMPLETION_FILE
set -u
# shellcheck source=/dev/null
source "$1"
failed=0

# expect "WANTED COMPLETIONS" WORD... (the last word is the one being completed)
expect() {
    local want=$1
    shift
    COMP_WORDS=(atsms "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _atsms
    local got="${COMPREPLY[*]}"
    if [[ $got != "$want" ]]; then
        echo "FAILED: atsms $* -> '$got', expected '$want'"
        failed=1
    fi
}

expect "-q --quick -j --json --join -w --wait --ussd-text --report --gsm7 --id --to --help --version --" -
expect "--quick" --q
expect "--quick --json --join --wait --ussd-text --report --gsm7 --id --to --help --version --" -q --
expect "--json --join" -q --j
expect "--join" -q --jo
expect "--ussd-text" --u
expect "--report" -q --r
expect "--gsm7" --report --g
expect "/dev/null" --ussd-text /dev/nul
expect "/dev/null" --join -j /dev/nul
expect "/dev/null" /dev/nul
expect "/dev/null" -q /dev/nul
expect "/dev/null" -j -q /dev/nul
expect "/dev/null" -- /dev/nul             # after "--" a "-" word is no option
expect "" -q -w ""                         # SECONDS
expect "" --id ""                          # an ID is typed
expect "sim tel report ussd" --id 0123456789abcdef /dev/ttyUSB1 ""
expect "/tmp" --to /tm                     # DIR: a directory
expect "sim tel report ussd" --to /tmp/spool /dev/ttyUSB1 ""
expect "/dev/null" -w 60 /dev/nul
expect "sim tel report ussd" --wait 5 -q /dev/ttyUSB1 ""
expect "sim" /dev/ttyUSB1 s
expect "sim tel report ussd" -q /dev/ttyUSB1 ""
expect "list del take send" /dev/ttyUSB1 tel ""
expect "list del take" /dev/ttyUSB1 report ""
expect "del" /dev/ttyUSB1 sim d
expect "" /dev/ttyUSB1 ussd ""             # a USSD code is typed, not completed
expect "all" -q /dev/ttyUSB1 sim del a
expect "" /dev/ttyUSB1 sim send ""
expect "" /dev/ttyUSB1 sim list -
expect "" --help ""
expect "" --version /dev/nul
exit $failed
