#!/usr/bin/env bash
# Spreads a batch over several machines with GNU parallel: mobivert-cli runs on each host for
# one file (or a chunk of files) at a time, as parallel hands them out, and each run's exit
# status is collected in parallel's job log.
#
# Usage: scripts/spread-batch.sh -S LOGINFILE [-j SLOTS] [-n FILES] [-l JOBLOG] [-c CLI] --
#            MOBIVERT-CLI-OPTIONS... -- FILE...
#   -S LOGINFILE  GNU parallel's --sshloginfile: one host a line (user@host, or ":" for this
#                 machine; "2/host" gives that host 2 job slots)
#   -j SLOTS      job slots on each host that names none (default 1)
#   -n FILES      files per mobivert-cli run (default 1)
#   -l JOBLOG     parallel's job log, one line per run with its host and exit status
#                 (default ./spread-batch.log)
#   -c CLI        the mobivert-cli to run on every host (default: mobivert-cli on its PATH)
# Example: scripts/spread-batch.sh -S hosts -j 2 -- -p "MP3 MPEG Layer-3 (*.mp3)" -o /srv/out \
#              -- /srv/music/*.flac
#
# The files and the output folder must be at the same paths on every host (shared storage).
# Every host keeps its own batch journals; `mobivert-cli --resume` on a host finishes what that
# host was running when it went down. Exit status as mobivert-cli's: 0 every file converted, 3
# every file converted but some with warnings, 1 a file failed (or a run could not be started
# on its host), 2 a usage error.
set -euo pipefail

usage() {
    sed -n '4,14p' "$0" >&2
    exit 2
}

loginfile="" slots=1 per_run=1 joblog=./spread-batch.log cli=mobivert-cli
while getopts "S:j:n:l:c:" option; do
    case $option in
    S) loginfile=$OPTARG ;;
    j) slots=$OPTARG ;;
    n) per_run=$OPTARG ;;
    l) joblog=$OPTARG ;;
    c) cli=$OPTARG ;;
    *) usage ;;
    esac
done
# getopts has taken the "--" that ends the script's own options.
shift $((OPTIND - 1))
[[ -n $loginfile ]] || usage
cli_options=()
while [[ $# -gt 0 && $1 != -- ]]; do
    cli_options+=("$1")
    shift
done
[[ ${1:-} == -- ]] || usage
shift
[[ $# -gt 0 ]] || usage
command -v parallel >/dev/null || { echo "spread-batch: GNU parallel is not installed" >&2; exit 2; }

# --quote has parallel quote every word for the shell on the host; a run's status is its job's
# exit value.
status=0
printf '%s\0' "$@" | parallel --will-cite --null --sshloginfile "$loginfile" -j "$slots" \
    -n "$per_run" --joblog "$joblog" --halt never --quote "$cli" "${cli_options[@]}" || status=$?

# The worst status of the runs, as mobivert-cli's for one batch: a failure (1, or anything a
# run that never started gives) over warnings (3) over success (0).
worst=0
while IFS=$'\t' read -r _ host _ _ _ _ exitval signal _; do
    [[ $exitval =~ ^[0-9]+$ ]] || continue
    if ((exitval == 2)); then
        worst=2
    elif ((exitval != 0 && exitval != 3 || signal != 0)); then
        ((worst == 2)) || worst=1
    elif ((exitval == 3 && worst == 0)); then
        worst=3
    fi
done <"$joblog"
# parallel itself failing (a login file it cannot read, say) is a failure too: it counts runs
# that exit with 3 as failed, so its status matters only when no run said anything else.
if ((worst == 0 && status != 0)); then
    worst=1
fi
exit "$worst"
