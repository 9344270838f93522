#!/usr/bin/env bash
# The bash completion and the manual pages against the programs themselves:
# every command and option that --help lists is completed and documented,
# the completion offers the right words in each position, and the pages
# render without warnings.
set -u
cli=$1 box=$2 completion=$3 man=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Commands and options as the program's own usage lists them.
usage=$("$cli" --help)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$usage" | awk 'NR > 1 && /^  [a-z]/ {print $1}')
options=$(grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' <<<"$usage" | tr -d ' ,' | sort -u)
global_options=$(sed -n '/^Options:/,/^$/p' <<<"$usage" | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
box_options=$("$box" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
[ -n "$commands" ] || fail "no commands found in the usage"

# Completion candidates for a command line typed so far (the last word is
# the one being completed).
source "$completion"
complete_line() {
    COMP_WORDS=(ktvtune-cli "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _ktvtune_cli
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

first=$(complete_line "")
for c in $commands; do
    [[ " $first " == *" $c "* ]] || fail "completion lacks the command '$c' (offers: $first)"
    grep -qE "^\.BI? \"?$c( |\"|$)" "$man/ktvtune-cli.1" || fail "ktvtune-cli.1 lacks the command '$c'"
done
first_options=$(complete_line "-")
for o in $global_options; do
    [[ " $first_options " == *" $o "* ]] || fail "completion lacks the option '$o' (offers: $first_options)"
done
for o in $options; do
    grep -qF -- "${o//-/\\-}" "$man/ktvtune-cli.1" || fail "ktvtune-cli.1 lacks the option '$o'"
done
for o in $box_options; do
    grep -qF -- "${o//-/\\-}" "$man/ktvtune-box.1" || fail "ktvtune-box.1 lacks the option '$o'"
done

# Words offered in each position.
cases=(
    "st|store "
    "-q re|read recall restore "
    "--device 2 wr|write "
    "store |1 2 3 4 5 6 7 8 "
    "recall 9|"
    "recall -|--help --output -h -o "
    "write club.dap --a|--all "
    "dump --|--box --help "
    "--channel |CENTER EFFECT MAIN MIC MUSIC SRS SUB "
    "-c M|MAIN MIC MUSIC "
    "--q|--quiet "
    "im|import "
    "import room.txt -|--channel --help --output --preset -h -o "
    "export club.dap -|--channel --help --output -h -o "
    "export club.dap --channel S|SRS SUB "
    "fit room.txt --m|--max-boost --max-cut --max-level-drop "
)
for c in "${cases[@]}"; do
    typed=${c%%|*} want=${c#*|}
    read -ra words <<<"$typed"
    [[ $typed == *" " ]] && words+=("")
    got=$(complete_line "${words[@]}")
    [ "$got" == "$want" ] || fail "'ktvtune-cli $typed' completes to '$got', not '$want'"
done

# Files: .dap files and folders only, after write.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
touch "$tmp/club.dap" "$tmp/notes.txt"
mkdir "$tmp/presets"
got=$(cd "$tmp" && complete_line write "")
[ "$got" == "club.dap presets " ] || fail "'write ' offers '$got'"
# A filter file or exported text may have any name; --preset takes a preset.
for typed in "import|" "export club.dap -o|"; do
    read -ra words <<<"${typed%|}"
    got=$(cd "$tmp" && complete_line "${words[@]}" "")
    [ "$got" == "club.dap notes.txt presets " ] || fail "'${typed%|} ' offers '$got'"
done
got=$(cd "$tmp" && complete_line import room.txt --preset "")
[ "$got" == "club.dap presets " ] || fail "'import room.txt --preset ' offers '$got'"

# The pages render cleanly.
if command -v man >/dev/null; then
    for page in "$man"/*.1; do
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
else
    echo "man not found: pages not rendered"
fi

[ $failures -eq 0 ] && echo "ok: $(wc -w <<<"$commands") commands, $(wc -w <<<"$options") options"
exit $((failures > 0))
