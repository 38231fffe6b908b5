# bash completion for loomvale-extract                     -*- shell-script -*-

_loomvale_extract() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --dest)
            _filedir -d
            return
            ;;
        --types)
            # A comma-separated list: complete the kind after the last comma.
            local kinds="bitmap icon cursor anicursor video html"
            local done="" part="$cur"
            if [[ $cur == *,* ]]; then
                done="${cur%,*},"
                part="${cur##*,}"
            fi
            COMPREPLY=($(compgen -P "$done" -W "$kinds" -- "$part"))
            compopt -o nospace
            return
            ;;
        --mask)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--dest --types --mask --no-subfolders --all-drives --png --gallery --quiet
            --version-info --version --help' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _loomvale_extract loomvale-extract

# ex: filetype=sh
