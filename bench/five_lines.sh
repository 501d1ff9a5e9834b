#!/bin/sh
# The shell peer: the five Info-ZIP command lines that tag an archive, run by
# one sh for each archive named, as a site's own script would do it.
#
#   sh five_lines.sh UNZIP ZIP CONF_DIR TMP_DIR ARCHIVE...
unzip=$1 zip=$2 conf=$3 tmp=$4
shift 4
for a; do
    diz=${a%/*}/FILE_ID.DIZ
    ( $unzip -vqq $a > $tmp/peer_list ) 2> /dev/null
    $unzip -Cqqp $a FILE_ID.DIZ > $diz 2>&1
    $zip -jqq $a $diz > /dev/null 2>&1
    $zip -zqq $a < $conf/sitetag.asc > /dev/null 2>&1
    $zip -jqq $a $conf/zorv97.nfo  > /dev/null 2>&1
done
