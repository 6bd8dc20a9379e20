#!/usr/bin/env bash
# The bash completion, as bash calls it: the words on the line and the index of the one under
# the cursor in, the candidates out.
# Usage: completion_test.sh packaging/zul-process.bash
set -euo pipefail
# shellcheck source=/dev/null
source "$1"

complete_line() {  # the words, the last one being completed
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  _zul_process
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

failures=0
expect() {
  local name=$1 want=$2 got=$3
  if [ "$want" != "$got" ]; then
    printf 'FAIL %s\n  want: %s\n  got:  %s\n' "$name" "$want" "$got"
    failures=$((failures + 1))
  fi
}

sleep 60 & live=$!
trap 'kill $live 2>/dev/null || true' EXIT

expect "command words for an empty word" "inspect sample serve" "$(complete_line zul-process '' | xargs)"
expect "command words by prefix" "sample serve" "$(complete_line zul-process s | xargs)"
expect "command word by a longer prefix" "serve" "$(complete_line zul-process ser | xargs)"
expect "its option after serve" "--forget-after=" "$(complete_line zul-process serve '' | xargs)"
expect "its option by prefix" "--forget-after=" "$(complete_line zul-process serve --f | xargs)"
expect "nothing after serve's option" "" \
  "$(complete_line zul-process serve --forget-after=600 '' | xargs)"
expect "no command word for a wrong prefix" "" "$(complete_line zul-process x | xargs)"
expect "a live process after sample" "$live" "$(complete_line zul-process sample "$live" | grep -x "$live" || true)"
expect "this shell after inspect" "$$" "$(complete_line zul-process inspect '' | grep -x "$$" || true)"
expect "an ID already given is not offered again" "" \
  "$(complete_line zul-process sample "$live" '' | grep -x "$live" || true)"
expect "only IDs, never words, after the command" "" \
  "$(complete_line zul-process sample '' | grep -vxE '[0-9]+' || true)"
expect "nothing after an unknown command word" "" "$(complete_line zul-process Sample '' | xargs)"
kill $live
wait $live 2>/dev/null || true
expect "an ended process is not offered" "" "$(complete_line zul-process sample "$live" | grep -x "$live" || true)"

[ $failures = 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
