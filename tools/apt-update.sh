#!/bin/sh
# Reads apt's package lists, riding out a mirror that is half-way through a
# sync: `apt-get [OPTION...] update` is tried up to three times, ten seconds
# apart, while a list could not be fetched. apt's own output goes to standard
# error; standard output gets, one a line, "ADDRESS: REASON" for each list that
# still could not be read (empty when every one was), and the exit code is 0
# either way: the caller decides whether to go on with the lists apt has.
# Whether a list was read is taken from apt's "Failed to fetch" lines, not
# from its exit code alone: a size mismatch ends with 100 and "E:", a
# transient failure may end with 0 and "W:".
set -eu
log=$(mktemp)
trap 'rm -f "$log"' EXIT
try=1
while :; do
    status=0
    apt-get "$@" update >"$log" 2>&1 || status=$?
    cat "$log" >&2
    # "E: Failed to fetch ADDRESS  REASON [IP: ...]" (or "W:"): one line a list.
    unread=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1: \2/p' "$log" | sed 's/ *\[IP: [^]]*\]$//')
    if [ -z "$unread" ] && [ "$status" != 0 ]; then
        unread="apt-get update: exit code $status"
    fi
    [ -z "$unread" ] || [ "$try" -ge 3 ] && break
    try=$((try + 1))
    sleep 10
done
[ -z "$unread" ] || printf '%s\n' "$unread"
