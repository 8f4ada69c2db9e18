# SPDX-License-Identifier: MIT
# bash completion for spitool. The commands and options come from
# "spitool --help", so they always match the installed tool.

# The options of "spitool --help" text $1; with $2 = value, only those that
# take a value.
_spitool_options()
{
    awk -v want="${2-}" '/^Options:/ { on = 1; next } on && /^$/ { exit }
        on { n = split(substr($0, 3, 24), t, /[ ,]+/); opts = ""; value = 0
             for (i = 1; i <= n; i++) if (t[i] ~ /^-/) opts = opts " " t[i]; else if (t[i] != "") value = 1
             if (want != "value" || value) print opts }' <<<"$1"
}

_spitool()
{
    local cur prev words cword
    _init_completion -n = 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }
    local help
    help=$("${words[0]}" --help 2>/dev/null) || return

    local valued
    valued=" $(_spitool_options "$help" value | tr '\n' ' ') "
    case $prev in
        --library|--sim-memory|--vcd)
            COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --format) COMPREPLY=($(compgen -W "bin text ihex" -- "$cur")); return ;;
        --sim-wiring) COMPREPLY=($(compgen -W "direct mux loopback" -- "$cur")); return ;;
        --sim-fault)
            COMPREPLY=($(compgen -W "absent bad-echo stuck0 stuck1" -- "$cur")); return ;;
    esac
    [[ $prev == -* && $valued == *" $prev "* ]] && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_spitool_options "$help")" -- "$cur"))
        return
    fi

    # The command: the first word that is neither an option nor its value.
    local commands command="" i
    commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\{1,\}\).*/\1/p' <<<"$help")
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -* ]]; then
            [[ $valued == *" ${words[i]} "* ]] && ((i++))
        else
            command=${words[i]}
            break
        fi
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands help" -- "$cur"))
    elif [[ $command == help ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    else
        case $command in
            get|set)
                COMPREPLY=($(compgen -W "SPIPORT SPIMUL SPISHIFTPERIOD SPICLOCK SPICMDBITS SPICMDREADBITS SPICMDWRITEBITS SPIMAXCLOCK" -- "$cur")) ;;
            dump|load|run) COMPREPLY=($(compgen -f -- "$cur")) ;;
        esac
    fi
} &&
    complete -F _spitool spitool
