#!/bin/bash
# SPDX-License-Identifier: MIT
# The generated bash completion offers spitool's commands, options and
# names, and the manual page and the documentation hold every option --help
# lists:
#   completion_test.sh <spitool.bash> <spitool> <spitool.1> <spitool.md>
set -u
source "$1"
tool=$2
man=$3
doc=$4
failed=0

# complete LINE EXPECTED [SEPARATOR]: the completions of LINE (the word
# after its last blank), joined by SEPARATOR (a blank), must be EXPECTED.
complete_line() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_WORDS[0]=$tool
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _spitool
  local IFS=${3:- }
  if [[ "${COMPREPLY[*]}" != "$2" ]]; then
    echo "FAIL '$1': got '${COMPREPLY[*]}', want '$2'"
    failed=1
  fi
}

complete_line "spitool pro" "probe"
complete_line "spitool -P 2 --chunk 4 cl" "clocks"
complete_line "spitool --p" "--port --progress"
complete_line "spitool -P " ""
complete_line "spitool --format " "bin text ihex"
complete_line "spitool --sim --sim-fault " "absent bad-echo stuck0 stuck1 readonly"
complete_line "spitool help re" "read"
complete_line "spitool get SPIM" "SPIMUL SPIMAXCLOCK"
# A value after "=", whole or with the "=" as a word of its own.
complete_line "spitool --format=te" "text"
complete_line "spitool --format =" "bin text ihex"
complete_line "spitool --sim-wiring = lo" "loopback"
complete_line "spitool --format=text --sim-wiring = mux pro" "probe"
# File names: one each, spaces kept; directories with their slash.
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
mkdir "$files/my dir" && touch "$files/my file.bin" && cd "$files" || exit 1
complete_line "spitool load 0 my" "my dir/|my file.bin" "|"
complete_line "spitool --vcd=my" "my dir/|my file.bin" "|"
cd - >/dev/null || exit 1
# The commands of --help, and the variables of the library's own table.
help=$("$tool" --help)
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\{1,\}\).*/\1/p' <<<"$help")
complete_line "spitool " "$(echo $commands) help"
complete_line "spitool set " "$(echo $("$tool" vars | awk 'NR > 1 { print $1 }'))"

# Every option of --help is offered, and is in the manual page (which writes
# "-" as "\-") and in the documentation (as `-x` or `--name ...`).
options=$(awk '/^Options:/ { on = 1; next } on && /^$/ { exit }
  on { for (i = 1; i <= NF; i++) { w = $i; sub(/,$/, "", w); if (w !~ /^-/) break; print w } }' <<<"$help")
complete_line "spitool -" "$(echo $options)"
for option in $options; do
  if ! grep -qF -- "${option//-/\\-}" "$man"; then
    echo "FAIL $man lacks $option"
    failed=1
  fi
  if ! grep -qE -- "\`$option[ \`]" "$doc"; then
    echo "FAIL $doc lacks $option"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "completion, manual page and documentation: passed"
exit "$failed"
