# bash completion for tarnwick-cli: subcommands, their options and option values; image files,
# media files and folders for the arguments.

# COMPREPLY = the words of $1 that start with the current word.
_tarnwick_cli_reply() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_tarnwick_cli() {
    local cur prev words cword
    _init_completion || return

    local subcommands="convert resize fill average enlarge frames still record"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            convert | resize | fill | average | enlarge | frames | still | record)
                command=${words[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _tarnwick_cli_reply "--help --version"
        else
            _tarnwick_cli_reply "$subcommands"
        fi
        return
    fi

    case $prev in
        -q | --quality)
            _tarnwick_cli_reply "75 85 90 95 100"
            return
            ;;
        --type)
            if [[ $command == frames ]]; then
                _tarnwick_cli_reply "bmp png jpg"
            else
                _tarnwick_cli_reply "jpg bmp"
            fi
            return
            ;;
        --extras)
            _tarnwick_cli_reply "800 1024 800,1024"
            return
            ;;
        --size)
            _tarnwick_cli_reply "x2 x3 640x480 800x600 1024x768"
            return
            ;;
        --interval)
            _tarnwick_cli_reply "20 40 100 200 500 1000"
            return
            ;;
        --rate)
            _tarnwick_cli_reply "25 50 100 200"
            return
            ;;
        --writer)
            _tarnwick_cli_reply "timer position"
            return
            ;;
        --method)
            _tarnwick_cli_reply "mean mean-of-added median sigma-clip"
            return
            ;;
        --scale)
            if [[ $command == average ]]; then
                _tarnwick_cli_reply "2 3"
            else
                _tarnwick_cli_reply "1 2 3"
            fi
            return
            ;;
        --keep)
            _tarnwick_cli_reply "50 80 100"
            return
            ;;
        --report)
            _filedir csv
            return
            ;;
    esac

    local options="-h --help"
    case $command in
        convert | resize | fill) options+=" -q --quality" ;;
        average)
            options+=" --type --extras -q --quality --auto-number --delete-sources --method --kappa"
            options+=" --align --limit --report --scale"
            ;;
        enlarge) options+=" --size --type -q --quality --delete-sources" ;;
        frames) options+=" --from --to --frames --type -q --quality" ;;
        still) options+=" --from --to --frames --at --scale --keep --report -q --quality" ;;
        record) options+=" --interval --rate --writer" ;;
    esac
    if [[ $cur == -* ]]; then
        _tarnwick_cli_reply "$options"
        return
    fi

    # Which positional argument is being typed: count the earlier ones, skipping option values.
    local position=0
    for ((i = i + 1; i < cword; i++)); do
        case ${words[i]} in
            -q | --quality | --type | --extras | --size | --interval | --rate | --writer | --method | \
                --kappa | --limit | --report | --from | --to | --frames | --at | --scale | \
                --keep) ((i++)) ;;
            -*) ;;
            *) ((position++)) ;;
        esac
    done

    case $command:$position in
        convert:0 | resize:0 | fill:0 | convert:1 | resize:1 | fill:1)
            _filedir '@(bmp|dib|jpg|jpeg|BMP|DIB|JPG|JPEG)'
            ;;
        resize:2 | fill:2)
            _tarnwick_cli_reply "640x480 800x600 1024x768"
            ;;
        average:0 | enlarge:0 | enlarge:1 | record:1 | frames:1)
            _filedir -d
            ;;
        average:1)
            _filedir '@(bmp|dib|jpg|jpeg|BMP|DIB|JPG|JPEG)'
            ;;
        still:1)
            _filedir '@(bmp|jpg|jpeg|png|BMP|JPG|JPEG|PNG)'
            ;;
        record:0 | frames:0 | still:0)
            _filedir
            ;;
    esac
} &&
    complete -F _tarnwick_cli tarnwick-cli
