# bash completion for zul-process: the command word, then the IDs of live processes (serve, the
# session on standard input, takes its one option and nothing more).
# Installed as share/bash-completion/completions/zul-process, where bash-completion loads it on
# first use; it needs nothing from bash-completion itself, so it can also be sourced directly.

_zul_process() {
  local word=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W 'inspect sample serve' -- "$word")
    return 0
  fi
  case ${COMP_WORDS[1]} in
    inspect | sample) ;;
    serve)
      if [ "$COMP_CWORD" -eq 2 ]; then
        mapfile -t COMPREPLY < <(compgen -W '--forget-after=' -- "$word")
        # The seconds follow the sign at once.
        compopt -o nospace 2>/dev/null || true
      fi
      return 0
      ;;
    *) return 0 ;;
  esac
  # Every process ID not yet on the line; /proc lists threads only under each process.
  local entry id ids=()
  for entry in /proc/[0-9]*; do
    id=${entry#/proc/}
    [[ " ${COMP_WORDS[*]:2:COMP_CWORD-2} " == *" $id "* ]] || ids+=("$id")
  done
  mapfile -t COMPREPLY < <(compgen -W "${ids[*]}" -- "$word")
}
complete -F _zul_process zul-process zul-process.exe
