# bash completion for corvane-cli                                  -*- shell-script -*-
#
# Everything offered comes from the program that is being completed, so a new command, option or
# name is offered as soon as the program knows it: the commands, options and verbs from its help
# texts (whose lists of categories, history items and settings are made from its own tables), and
# the backup names from "backups list" of the target named on the command line.

# The help text of the program, or of one of its commands.
_corvane_cli_help() {
    "$1" ${2:+"$2"} --help 2>/dev/null
}

# The options a help text offers: those of its usage lines and of its indented option lines.
_corvane_cli_options() {
    sed -n -e '/^Usage:/,/^$/p' -e '/^ *--[a-z]/p' <<<"$1" | grep -o -- '--[a-z][a-z-]*' | sort -u
}

# The options a help text shows with a value ("--categories LIST").
_corvane_cli_value_options() {
    grep -o -- '--[a-z][a-z-]* [A-Z][A-Z:]*' <<<"$1" | cut -d' ' -f1 | sort -u
}

# The names of a help text's comma-separated list line (the categories, the history items).
_corvane_cli_list() {
    grep -E '^ +[a-z0-9-]+(, [a-z0-9-]+)+$' <<<"$1" | head -n 1 | tr -d ' ' | tr ',' ' '
}

# The verbs of a command: the first word of each alternative of its usage line
# ("backups list|restore NAME|delete NAME" gives list restore delete).
_corvane_cli_verbs() {
    local usage
    usage=$(sed -n "s/^Usage: .* $2 \(.*\)/\1/p" <<<"$1" | head -n 1)
    tr '|' '\n' <<<"$usage" | awk '$1 ~ /^[a-z]+$/ { print $1 }'
}

# Completes the current word as a comma-separated list of names.
_corvane_cli_complete_list() {
    local cur=$1 names=$2
    local done=${cur%,*} part=${cur##*,}
    if [[ $done == "$cur" ]]; then
        done=
    else
        done+=,
    fi
    compopt -o nospace 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -P "$done" -W "all $names" -- "$part")
}

_corvane_cli() {
    local prog=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local help
    help=$(_corvane_cli_help "$prog") || return 0
    local value_options
    value_options=$(_corvane_cli_value_options "$help")

    # The command, its words, and the target options to hand on to "backups list".
    local i word command= command_help= windows= target=() words=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            if grep -qx -- "$word" <<<"$value_options"; then
                local value=${COMP_WORDS[i + 1]}
                value=${value/#\~/$HOME} # the shell expands it only when the line runs
                case $word in
                    --prefix | --windows | --user) target+=("$word" "$value") ;;
                    --keep) target+=(--prefix "$value") ;;
                esac
                [[ $word == --windows ]] && windows=$value
                ((i++))
            fi
        elif [[ -z $command ]]; then
            command=$word
            command_help=$(_corvane_cli_help "$prog" "$command")
            value_options+=$'\n'$(_corvane_cli_value_options "$command_help")
        else
            words+=("$word")
        fi
    done

    case $prev in
        --prefix | --windows | --keep)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return 0
            ;;
        --user)
            if [[ -n $windows && -d $windows/Users ]]; then
                mapfile -t COMPREPLY < <(cd "$windows/Users" && compgen -d -- "$cur")
            fi
            return 0
            ;;
        --categories)
            _corvane_cli_complete_list "$cur" "$(_corvane_cli_list "$(_corvane_cli_help "$prog" scan)")"
            return 0
            ;;
        --items)
            _corvane_cli_complete_list "$cur" "$(_corvane_cli_list "$(_corvane_cli_help "$prog" history)")"
            return 0
            ;;
    esac
    if grep -qx -- "$prev" <<<"$value_options"; then
        return 0 # a value of its own kind: nothing to offer
    fi

    if [[ $cur == -* ]]; then
        local options
        if [[ -z $command ]]; then
            options=$(sed -n '1,/^Commands:/p' <<<"$help" | grep -o -- '--[a-z][a-z-]*'; echo --help)
            options=$(sort -u <<<"$options")
        else
            options=$(_corvane_cli_options "$command_help"; echo --help)
        fi
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi

    if [[ -z $command ]]; then
        local commands
        commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$help")
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return 0
    fi

    local verbs
    verbs=$(_corvane_cli_verbs "$command_help" "$command")
    if ((${#words[@]} == 0)); then
        mapfile -t COMPREPLY < <(compgen -W "$verbs" -- "$cur")
        return 0
    fi
    case "$command ${words[0]} ${#words[@]}" in
        "backups restore 1" | "backups delete 1")
            mapfile -t COMPREPLY < <(compgen -W "$("$prog" "${target[@]}" backups list 2>/dev/null | cut -f1)" -- "$cur")
            ;;
        "settings set 1")
            mapfile -t COMPREPLY < <(compgen -W "$(sed -n 's/^      \([a-z][a-z-]*\) .*/\1/p' <<<"$command_help")" -- "$cur")
            ;;
        "settings set 2")
            case ${words[1]} in
                categories) _corvane_cli_complete_list "$cur" "$(_corvane_cli_list "$(_corvane_cli_help "$prog" scan)")" ;;
                history-items) _corvane_cli_complete_list "$cur" "$(_corvane_cli_list "$(_corvane_cli_help "$prog" history)")" ;;
                *)
                    if grep -q "^      ${words[1]} on|off" <<<"$command_help"; then
                        mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur")
                    fi
                    ;;
            esac
            ;;
        "schedule add 1")
            mapfile -t COMPREPLY < <(compgen -W "$(sed -n 's/^  add \([a-z][a-z]*\).*/\1/p' <<<"$command_help" | sort -u)" -- "$cur")
            ;;
    esac
    return 0
}

complete -F _corvane_cli corvane-cli
