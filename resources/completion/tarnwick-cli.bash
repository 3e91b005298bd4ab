# bash completion for tarnwick-cli: subcommands, their options and option values; image files,
# media files and folders for the arguments.

_tarnwick_cli() {
    local cur prev words cword
    _init_completion || return

    local subcommands="convert resize fill average enlarge record"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            convert | resize | fill | average | enlarge | record)
                command=${words[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        fi
        return
    fi

    case $prev in
        -q | --quality)
            COMPREPLY=($(compgen -W "75 85 90 95 100" -- "$cur"))
            return
            ;;
        --type)
            COMPREPLY=($(compgen -W "jpg bmp" -- "$cur"))
            return
            ;;
        --extras)
            COMPREPLY=($(compgen -W "800 1024 800,1024" -- "$cur"))
            return
            ;;
        --size)
            COMPREPLY=($(compgen -W "x2 x3 640x480 800x600 1024x768" -- "$cur"))
            return
            ;;
        --interval)
            COMPREPLY=($(compgen -W "20 40 100 200 500 1000" -- "$cur"))
            return
            ;;
        --rate)
            COMPREPLY=($(compgen -W "25 50 100 200" -- "$cur"))
            return
            ;;
        --writer)
            COMPREPLY=($(compgen -W "timer position" -- "$cur"))
            return
            ;;
    esac

    local options="-h --help"
    case $command in
        convert | resize | fill) options+=" -q --quality" ;;
        average) options+=" --type --extras -q --quality --auto-number --delete-sources" ;;
        enlarge) options+=" --size --type -q --quality --delete-sources" ;;
        record) options+=" --interval --rate --writer" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # Which positional argument is being typed: count the earlier ones, skipping option values.
    local position=0
    for ((i = i + 1; i < cword; i++)); do
        case ${words[i]} in
            -q | --quality | --type | --extras | --size | --interval | --rate | --writer) ((i++)) ;;
            -*) ;;
            *) ((position++)) ;;
        esac
    done

    case $command:$position in
        convert:0 | resize:0 | fill:0 | convert:1 | resize:1 | fill:1)
            _filedir '@(bmp|dib|jpg|jpeg|BMP|DIB|JPG|JPEG)'
            ;;
        resize:2 | fill:2)
            COMPREPLY=($(compgen -W "640x480 800x600 1024x768" -- "$cur"))
            ;;
        average:0 | enlarge:0 | enlarge:1 | record:1)
            _filedir -d
            ;;
        average:1)
            _filedir '@(bmp|dib|jpg|jpeg|BMP|DIB|JPG|JPEG)'
            ;;
        record:0)
            _filedir
            ;;
    esac
} &&
    complete -F _tarnwick_cli tarnwick-cli
