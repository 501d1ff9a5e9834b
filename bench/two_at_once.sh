#!/bin/sh
# The overlap peer: two velmotag runs at once over one directory, the first
# half of the archives each, as an upload hook and a cron pass would.
#
#   sh two_at_once.sh VELMOTAG OPTION ARCHIVE...
velmotag=$1 option=$2
shift 2
half=$(($# / 2))
first=""
i=0
for a; do
    [ "$i" -lt "$half" ] && first="$first $a"
    i=$((i + 1))
done
# Word splitting of $first is wanted: the bench's archive paths hold no blanks.
# shellcheck disable=SC2086
"$velmotag" "$option" $first &
shift "$half"
"$velmotag" "$option" "$@"
wait
