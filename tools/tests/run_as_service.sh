#!/bin/sh
# Runs a unit's ExecStart line as systemd would: the values of its defaults
# file in the environment, ${NAME} as one word, a lone $NAME split at white
# space; as the user norvelo with its groups. The expanded line goes to
# standard error for the test to check.
# Usage: run_as_service.sh EXECSTART-FILE DEFAULTS-FILE
set -a
. "$2"
set +a
line=$(sed -e 's/^ExecStart=//' -e 's/\${\([A-Za-z_]*\)}/"$\1"/g' "$1")
eval "set -- $line"
echo "ExecStart: $*" >&2
exec setpriv --reuid=norvelo --regid=norvelo --init-groups "$@"
