# bash completion for brindlemark-cli                               -*- shell-script -*-
#
#   brindlemark-cli [GLOBAL OPTIONS] COMMAND [OPTIONS] [FILE]
#
# Global options may also follow the command. FILE is a .hex, .eep, .ppro, .pac or .pack file.

# Serial ports for --port: the simulated target and the /dev/tty* devices, less the console and
# the virtual terminals. Any other path (a pseudo-terminal, a link to one) completes as a file.
_brindlemark_cli_ports() {
  local cur=$1 d
  local -a devices=(sim)
  for d in /dev/tty*; do
    case $d in
      /dev/tty | /dev/tty[0-9]*) ;;
      *) [[ -e $d ]] && devices+=("$d") ;;
    esac
  done
  mapfile -t COMPREPLY < <(compgen -W "${devices[*]}" -- "$cur")
  if [[ ${#COMPREPLY[@]} -eq 0 ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

# Files the program loads (by extension, in any case) and directories to reach them.
_brindlemark_cli_images() {
  local cur=$1 f
  local -a names
  mapfile -t names < <(compgen -f -- "$cur")
  COMPREPLY=()
  compopt -o filenames 2>/dev/null
  for f in "${names[@]}"; do
    if [[ -d $f ]]; then
      COMPREPLY+=("$f")
    else
      case ${f,,} in
        *.hex | *.eep | *.ppro | *.pac | *.pack) COMPREPLY+=("$f") ;;
      esac
    fi
  done
}

_brindlemark_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="ports load download erase gang station loaders records help"
  local global="--port --simulated-target --json -h --help --version"
  local with_value="--port -P --baud -b --flash-out --eeprom-out --timeout --log-dir --connect-attempts --wait-after-open --reply-timeout --watch --settle --max-boards --record --station-name --serial-number --sequence --sequence-start --serial --sha256 --since --outcome"

  # --option=value arrives as "--option" "=" "value" (or "=" alone while nothing is typed yet).
  if [[ $cur == = ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    cur=
  elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi

  # A cluster of flags may end in an option that takes the next word (-qP DEVICE, -vb RATE).
  case $prev in
    --port | -P | -[qvh]*P)
      _brindlemark_cli_ports "$cur"
      return
      ;;
    --baud | -b | -[qvh]*b)
      mapfile -t COMPREPLY < <(compgen -W "9600 19200 38400 57600 115200" -- "$cur")
      return
      ;;
    --flash-out | --eeprom-out)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    --log-dir | --watch)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    --record)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    --outcome)
      mapfile -t COMPREPLY < <(compgen -W "done load-failed nothing-to-write usage not-found refused failed port-lost no-answer does-not-fit verify-failed stopped output-failed record-failed unfinished" -- "$cur")
      return
      ;;
    --serial-number)
      mapfile -t COMPREPLY < <(compgen -W "u32le@eeprom: u32be@eeprom:" -- "$cur")
      return
      ;;
    --timeout | --connect-attempts | --wait-after-open | --reply-timeout | --settle | --max-boards | --station-name | \
      --sequence | --sequence-start | --serial | --sha256 | --since)
      COMPREPLY=()
      return
      ;;
  esac

  # The command and whether its FILE has been given, skipping options and their values.
  local command='' file='' i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == = ]]; then
      continue
    elif [[ $word == -* ]]; then
      if [[ ${COMP_WORDS[i + 1]} == = ]]; then
        ((i += 2))
      elif [[ " $with_value " == *" $word "* || $word =~ ^-[qvh]+[Pb]$ ]]; then
        ((i++))
      fi
    elif [[ -z $command ]]; then
      command=$word
    elif [[ -z $file ]]; then
      file=$word
    fi
  done

  local run="--baud --stop --force --trace --quiet --connect-attempts --wait-after-open --reply-timeout"
  local record="--record --station-name"
  local serial="--serial-number --sequence --sequence-start"
  local options
  case $command in
    '') options=$global ;;
    ports) options="$global --probe --reply-timeout" ;;
    load) options="$global --flash-out --eeprom-out" ;;
    download) options="$global $run --no-flash --no-eeprom --verify $record $serial" ;;
    erase) options="$global $run $record" ;;
    gang) options="$global $run --no-flash --no-eeprom --verify --all-ports --timeout --log-dir $record $serial" ;;
    station) options="$global $run --no-flash --no-eeprom --verify --watch --settle --max-boards --log-dir $record $serial" ;;
    loaders) options=$global ;;
    records) options="$global --serial --sha256 --since --outcome --csv" ;;
    help) options= ;;
    *) options=$global ;;
  esac

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  elif [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  elif [[ $command == help ]]; then
    [[ -z $file ]] && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  elif [[ -z $file && $command =~ ^(load|download|erase|gang|station)$ ]]; then
    _brindlemark_cli_images "$cur"
  elif [[ -z $file && $command == records ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
} &&
  complete -F _brindlemark_cli brindlemark-cli
