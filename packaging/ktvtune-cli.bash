# bash completion for ktvtune-cli: commands, options, slot numbers, channel
# names, boxes for --device, .dap files, filter and measurement files. Plain bash: it does not need the
# bash-completion helpers, so it also works when sourced by hand.

_ktvtune_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="list read write store recall history restore dump diff import export fit measure devices volume venue help"
    local channels="MIC MUSIC EFFECT MAIN CENTER SUB SRS"
    local i command=""

    # The first word that is not an option (or an option's value) is the command.
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -d | --device | --venue | --room) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done

    case $prev in
        -d | --device)
            # Numbers and identifiers of the boxes present now, and the
            # names of the virtual ones.
            local IFS=$'\n' boxes
            boxes=$(ktvtune-cli list 2>/dev/null | cut -f1,2)
            COMPREPLY=($(compgen -W "$(tr '\t' '\n' <<<"$boxes"; sed -n 's/^.*\\box-\(.*\)\.sock$/\1/p' <<<"$boxes")" -- "$cur"))
            return ;;
        --out | --in)
            if [[ $command == measure ]]; then
                # The audio devices by the names measure takes.
                local IFS=$'\n'
                COMPREPLY=($(compgen -W "$(ktvtune-cli devices 2>/dev/null | sed -E 's/^[a-z+]+ +//; s/  \(default\)$//')" -- "$cur"))
                return
            fi ;;&
        -o | --output | --out)
            # export and measure write text, any name; the others write presets.
            if [[ $command == export || $command == measure ]]; then
                COMPREPLY=($(compgen -f -- "$cur"))
            else
                COMPREPLY=($(compgen -f -X '!*.dap' -- "$cur") $(compgen -d -- "$cur"))
            fi
            return ;;
        --venue)
            COMPREPLY=($(compgen -f -X '!*.venue' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        --room | --host | --port | --bind | --site | --user | --rooms | --mic | --music | --effect)
            return ;;
        --role)
            COMPREPLY=($(compgen -W "technician staff agent" -- "$cur"))
            return ;;
        --target)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --tilt | --range | --max-boost | --max-cut | --max-level-drop | --level | --length | --average | --gate | --takes)
            return ;;
        --calibration)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --preset)
            COMPREPLY=($(compgen -f -X '!*.dap' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        -c | --channel)
            COMPREPLY=($(compgen -W "$channels" -- "$cur"))
            return ;;
        --format)
            # The formats export names in its help ("rew, apo or autoeq (default rew)...").
            COMPREPLY=($(compgen -W "$(ktvtune-cli export --help 2>/dev/null |
                sed -nE 's/^  --format FORMAT +//; T; s/ \(.*//; s/,| or / /g; p')" -- "$cur"))
            return ;;
    esac

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-q --quiet -v --verbose -d --device --venue --room -h --help" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local options="-h --help"
    case $command in
        read) options+=" -o --output" ;;
        write) options+=" --all" ;;
        recall) options+=" -o --output" ;;
        dump) options+=" --box" ;;
        import) options+=" --channel --preset -o --output" ;;
        export) options+=" --channel --format -o --output" ;;
        fit) options+=" --channel --target --tilt --range --max-boost --max-cut --max-level-drop --preset -o --output" ;;
        volume) options+=" --mic --music --effect" ;;
        venue) options+=" --host --port --bind --site --user --role --room --mic --music --effect --rooms" ;;
        measure) options+=" -o --output --out --in --level --length --range --calibration --average --gate --takes" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
        store | recall) COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8" -- "$cur")) ;;
        venue) COMPREPLY=($(compgen -W "init add-user remove-user broker list limits take-over release demo" -- "$cur")) ;;
        import | fit) COMPREPLY=($(compgen -f -- "$cur")) ;;
        write | dump | diff | export) COMPREPLY=($(compgen -f -X '!*.dap' -- "$cur") $(compgen -d -- "$cur")) ;;
    esac
}
complete -o filenames -F _ktvtune_cli ktvtune-cli
