# bash completion for quorvane-cli: its commands, their options, and --serial and --path from
# the Tarvex units connected now, as `quorvane-cli list` shows them.

# The values of the listing's lines that start with $1, those that begin with $2, quoted.
_quorvane_cli_units() {
    local value
    while IFS= read -r value; do
        [[ $value == "$2"* ]] && COMPREPLY+=("$(printf '%q' "$value")")
    done < <(quorvane-cli -q list 2>/dev/null | sed -n "s/^$1//p")
}

_quorvane_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command= word
    COMPREPLY=()
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in list | update | bootloader | history) command=$word ;; esac
    done
    case $prev in
    --serial) _quorvane_cli_units '  Serial number:  ' "$cur"; return ;;
    --path) _quorvane_cli_units 'Tarvex at ' "$cur"; return ;;
    --image) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
    --wait-limit | -n) return ;;
    esac
    local words
    case $command in
    list) words='--all --json --help' ;;
    update) words='--image --serial --path --wait-limit --json --help' ;;
    bootloader) words='--serial --path --wait-limit --json --help' ;;
    history) words='-n --json --help' ;;
    *) words='list update bootloader history --verbose --quiet --help --version' ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _quorvane_cli quorvane-cli
