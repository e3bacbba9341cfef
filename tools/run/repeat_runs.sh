#!/usr/bin/env bash
# Runs `./hx run --headless` N times in a row (50 by default) on one fresh app home, as a user
# relaunching the app would, and counts the runs that failed, those given an empty service and
# those after the first that asked the service for a sign-in again. Each run's out folder is kept
# under the home; its icons are checked with icons_check.py by the system's python3, the one
# `./hx deps` installs the picture library for (as the tests do).
#
#   tools/run/repeat_runs.sh [N]     status 1 when any run failed, lost its service or signed in again
set -uo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-50}
case "$runs" in '' | *[!0-9]*) echo "repeat_runs: N is a count of runs, not '$runs'" >&2; exit 2 ;; esac
home=$(mktemp -d)
export HXCONNECT_HOME="$home"
failed=0 empty=0 signins=0 iconless=0 last_session=""
for i in $(seq 1 "$runs"); do
  out="$home/out$i"
  log=$(./hx run --headless --out "$out" 2>&1)
  status=$?
  if [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    echo "run $i ended with status $status:" >&2
    tail -3 <<<"$log" >&2
  fi
  if grep -q -- "--service needs an origin" <<<"$log"; then empty=$((empty + 1)); fi
  # A sign-in gives the account a new session in the service's kept state; only the first run
  # has to sign in.
  session=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["signIn"]["session"])' \
    "$home/emulator-state.json" 2>/dev/null)
  if [ "$i" -gt 1 ] && [ "$session" != "$last_session" ]; then signins=$((signins + 1)); fi
  last_session=$session
  if ! /usr/bin/python3 tools/run/icons_check.py "$out" >/dev/null 2>&1; then iconless=$((iconless + 1)); fi
done
echo "runs=$runs failed=$failed empty-service=$empty signed-in-again=$signins without-icons=$iconless home=$home"
[ "$failed" -eq 0 ] && [ "$empty" -eq 0 ] && [ "$signins" -eq 0 ] && [ "$iconless" -eq 0 ]
