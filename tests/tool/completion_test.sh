#!/bin/bash
# SPDX-License-Identifier: MIT
# The bash completion offers spitool's commands and options, and the manual
# page and the documentation hold every option --help lists:
#   completion_test.sh <spitool.bash> <spitool> <spitool.1> <spitool.md>
set -u
source "$1"
tool=$2
man=$3
doc=$4
failed=0

# complete LINE EXPECTED: the completions of LINE (the word after its last
# blank) must be exactly EXPECTED.
complete_line() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_WORDS[0]=$tool
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _spitool
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
complete_line "spitool help re" "read"
complete_line "spitool get SPIM" "SPIMUL SPIMAXCLOCK"
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\{1,\}\).*/\1/p' <<<"$("$tool" --help)")
complete_line "spitool " "$(echo $commands) help"

# Every option of --help is in the manual page (which writes "-" as "\-")
# and in the documentation (as `-x` or `--name ...`).
for option in $(_spitool_options "$("$tool" --help)"); do
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
