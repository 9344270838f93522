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

# The completion asks the program itself for some words (the export formats).
PATH="$(dirname "$(realpath "$cli")"):$PATH"

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

# Each command against its own --help: every option its usage names is
# completed after the command, every option completed there is one the
# command takes, and the manual page heads the command with its usage line
# or with its line in the overview (without "[options]").
render_man() { # a .B/.BI/.BR line as the page shows it
    sed -E 's/^\.[BIR]+ //; s/\\f[RBI]//g; s/\\-/-/g; s/"//g; s/  +/ /g; s/ +$//' <<<"$1"
}
man_headings=$(sed -n '/^\.SH COMMANDS/,/^\.SH [^C]/p' "$man/ktvtune-cli.1" | awk 'prev == ".TP" {print} {prev = $0}')
empty=$(mktemp -d) cli_path=$(realpath "$cli")
for c in $(awk '!seen[$0]++' <<<"$commands"); do
    help=$("$cli" "$c" --help)
    synopsis=$(sed '/^$/q' <<<"$help")
    usage_forms=$(awk '/^$/ {exit} /^(Usage:|      ) ktvtune-cli / {if (f != "") print f; sub(/^(Usage:| +) ktvtune-cli /, ""); f = $0; next} {gsub(/^ +/, ""); f = f " " $0} END {if (f != "") print f}' <<<"$synopsis")
    brief_forms=$(sed -n '/^Commands:/,/^$/p' <<<"$usage" | awk -v c="$c" '$1 == c {sub(/^  /, ""); sub(/  +.*$/, ""); sub(/ \[options\]$/, ""); print}')
    named=$( { grep -v '^$' <<<"$synopsis"; grep -E '^  -' <<<"$help"; } | grep -oE -- '(^|[ ,[|])--?[a-z][a-z-]*' | tr -d ' ,[|' | sort -u)
    offered=$(complete_line "$c" "-")
    for o in $named; do
        [[ " $offered " == *" $o "* ]] || fail "'$c --help' names '$o', the completion of '$c -' lacks it (offers: $offered)"
    done
    for o in $offered; do
        err=$(cd "$empty" && XDG_RUNTIME_DIR=$empty XDG_DATA_HOME=$empty "$cli_path" "$c" "$o" x y z 2>&1 >/dev/null)
        [[ $err != *"unknown option '$o'"* ]] || fail "the completion offers '$o' after '$c', which $c does not take"
    done
    headings=$(while IFS= read -r line; do
        h=$(render_man "$line")
        [ "${h%% *}" == "$c" ] && echo "$h"
    done <<<"$man_headings")
    n=0
    while IFS= read -r heading; do
        n=$((n + 1))
        want_usage=$(sed -n "${n}p" <<<"$usage_forms") want_brief=$(sed -n "${n}p" <<<"$brief_forms")
        [ "$heading" == "$want_usage" ] || [ "$heading" == "$want_brief" ] ||
            fail "ktvtune-cli.1 heads '$c' with '$heading', not '$want_usage' or '$want_brief'"
    done <<<"$headings"
    [ "$n" -eq "$(wc -l <<<"$usage_forms")" ] || fail "ktvtune-cli.1 has $n headings for '$c', its usage $(wc -l <<<"$usage_forms")"
done
rm -rf "$empty"

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
    "export club.dap -|--channel --format --help --output -h -o "
    "export club.dap --format |apo autoeq rew "
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
