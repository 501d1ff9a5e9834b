#!/bin/sh
# Two runs at once over one directory, the first half of the archives each,
# as an upload hook and a cron pass would make them.
#
#   sh two_at_once.sh N COMMAND... ARCHIVE...
#
# The first N words after N are the command, the rest its archives.
n=$1
shift
command=""
while [ "$n" -gt 0 ]; do
    command="$command $1"
    shift
    n=$((n - 1))
done
half=$(($# / 2))
first=""
i=0
for a; do
    [ "$i" -lt "$half" ] && first="$first $a"
    i=$((i + 1))
done
# Word splitting is wanted: the bench's paths hold no blanks.
# shellcheck disable=SC2086
$command $first &
shift "$half"
# shellcheck disable=SC2086
$command "$@"
wait
