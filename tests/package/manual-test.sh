#!/bin/bash
# Checks a manual page against the program it describes: every option the program's help
# names, for each command in that command's section, every exit status a help names, and a
# page that renders without a warning.
#   bash manual-test.sh PROGRAM SOURCE.scd PAGE.1
set -euo pipefail
program=$1 source=$2 page=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The text of the section headed "## NAME" (or "# NAME"), up to the next heading.
section() {
    awk -v head="$1" '$0 == head { on = 1; next } on && /^#/ { exit } on' "$source"
}
options_of() { grep -oE -- '--[a-z][a-z-]+' | sort -u; }
# Exit statuses a help names after "Exit status:".
statuses_of() { sed -n 's/.*Exit status: //p' | grep -oE '(^|, )[0-9]+' | tr -dc '0-9\n'; }

help=$("$program" --help)
commands=$(awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }' <<<"$help")
for option in $(options_of <<<"$help"); do
    grep -qF -- "*$option*" "$source" || fail "$option is not in $source"
done
exit_section=$(section "# EXIT STATUS")
for command in $commands; do
    text=$(section "## $command")
    [ -n "$text" ] || fail "no section for the command $command"
    command_help=$("$program" "$command" --help)
    for option in $(options_of <<<"$command_help"); do
        grep -qF -- "*$option*" <<<"$text" || fail "$command $option is not in its section"
    done
    for status in $(statuses_of <<<"$command_help"); do
        grep -qx -- "\*$status\*" <<<"$exit_section" || fail "exit status $status is not described"
    done
done

# man reports what it cannot typeset (bad requests, lines it had to break badly).
if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 \
        >/dev/null || true)
    [ -z "$warnings" ] || fail "$page renders with warnings: $warnings"
fi

[ "$failures" -eq 0 ] && echo "manual: $source covers $program"
exit $((failures > 0))
