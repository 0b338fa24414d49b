#!/bin/bash
# Drives the bash completion of quorvex-cli as bash does, over a table of command lines, and
# checks that it offers every command and option the program's own help names.
#   bash completion-test.sh QUORVEX_CLI COMPLETION_FILE
set -euo pipefail
cli=$1
# shellcheck source=/dev/null
source "$2"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Stands in for `quorvex-cli adapters`: eth0 holds two addresses.
cat >"$scratch/stand-in" <<'LIST'
#!/bin/sh
[ "$1" = adapters ] || exit 2
printf '0\teth0\t192.0.2.2\t255.255.255.0\t02:00:00:00:00:01\ttype 6\n'
printf '1\teth0\t198.51.100.2\t255.255.255.0\t02:00:00:00:00:01\ttype 6\n'
printf '2\twlan0\t203.0.113.9\t255.255.255.0\t02:00:00:00:00:02\ttype 71\n'
LIST
chmod +x "$scratch/stand-in"
touch "$scratch/cap.pcap" "$scratch/cap.pcapng" "$scratch/keys.log"

# The completions bash offers for LINE (words after the program; a trailing blank starts an
# empty word), sorted, one line.
offered() {
    local line=$1 program=${2:-$scratch/stand-in}
    local -a words
    read -ra words <<<"$line"
    if [ -z "$line" ] || [ "${line: -1}" = " " ]; then
        words+=("")
    fi
    COMP_WORDS=(quorvex-cli "${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quorvex_cli "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' '
}

failures=0
# command line | what is offered
while IFS='|' read -r line expected; do
    line=${line//@/$scratch}
    expected=${expected//@/$scratch}
    got=$(offered "$line")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: quorvex-cli $line<TAB> offered '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
done <<'TABLE'
|--help --version adapters browser detect download monitor
mo|monitor
d|detect download
--v|--version
adapters --|--help --json
browser --k|--keylog
monitor --ad|--adapter
monitor --adapter |eth0 wlan0
download mms://h/a --adapter w|wlan0
detect --as |curl ffmpeg yt-dlp
monitor --as yt|yt-dlp
detect --port |
monitor --seconds |
download http://h/a --stall-timeout |
download http://h/a --password |
detect --pcap @/cap.pc|@/cap.pcap @/cap.pcapng
detect --keylog @/k|@/keys.log
download http://h/a --output @/cap.pcapn|@/cap.pcapng
download http://h/a --cacert @/nothing|
nonsense --|
TABLE

# Every command the help lists, and every option a command's help names, is offered.
commands=$("$cli" --help | awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
for command in $commands; do
    [[ " $(offered "") " == *" $command "* ]] || {
        echo "FAIL: command $command is not offered"
        failures=$((failures + 1))
    }
    options=$(offered "$command --" "$cli")
    for option in $("$cli" "$command" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
        [[ " $options " == *" $option "* ]] || {
            echo "FAIL: $command $option is not offered"
            failures=$((failures + 1))
        }
    done
done

[ "$failures" -eq 0 ] && echo "completion: all offered as expected"
exit $((failures > 0))
