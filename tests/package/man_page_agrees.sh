#!/usr/bin/env bash
# The README and the man page are written separately; this keeps them from disagreeing on the
# facts a script depends on: every error code, and every message with its exit status.
# Usage: man_page_agrees.sh README.md doc/zul-process.1.scd.in
set -euo pipefail
readme=$1
man=$2

# A section of the README: from its heading to the next heading of any level.
readme_section() { awk -v h="$1" '$0 == h { on = 1; next } on && /^#/ { exit } on' "$readme"; }
# A section of the man page source: from "# NAME" to the next "# ".
man_section() { awk -v h="# $1" '$0 == h { on = 1; next } on && /^# / { exit } on' "$man"; }

# Error codes: every quoted upper-case name, anywhere in either text.
codes() { grep -oE '"[A-Z][A-Z0-9]*(_[A-Z0-9]+)+"' "$1" | sort -u; }

# Messages with their status. README: the table's backticked standard-error cell and the last
# cell. Man page: "- *message*" items under the status line "*N*" they follow.
readme_messages() {
  readme_section '### Exit status and messages' | awk -F' \\| ' '
    /^\|/ && $2 ~ /`/ {
      message = $2; sub(/^[^`]*`/, "", message); sub(/`[^`]*$/, "", message)
      gsub(/\\\|/, "|", message)
      status = $NF; sub(/ *\|$/, "", status)
      print status "\t" message
    }' | sort
}
man_messages() {
  man_section 'EXIT STATUS' | awk '
    /^\*[0-9]+\*$/ { status = substr($0, 2, length($0) - 2); next }
    /^\t- \*/ { message = $0; sub(/^\t- \*/, "", message); sub(/\*.*$/, "", message)
                print status "\t" message }' | sort
}

status=0
compare() {
  local what=$1 left=$2 right=$3
  if ! diff <(echo "$left") <(echo "$right") >/dev/null; then
    echo "README and man page disagree on $what (< README only, > man page only):"
    diff <(echo "$left") <(echo "$right") | grep '^[<>]' || true
    status=1
  fi
}
compare "error codes" "$(codes "$readme")" "$(codes "$man")"
compare "messages and exit statuses" "$(readme_messages)" "$(man_messages)"

# Both lists must be there at all, or the comparison proves nothing.
[ "$(readme_messages | wc -l)" -ge 5 ] || { echo "no messages found in $readme"; status=1; }
[ "$(codes "$readme" | wc -l)" -ge 10 ] || { echo "no error codes found in $readme"; status=1; }
[ $status = 0 ] && echo "README and man page agree: $(codes "$readme" | wc -l) codes, $(readme_messages | wc -l) messages"
exit $status
