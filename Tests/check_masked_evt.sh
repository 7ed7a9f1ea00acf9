#!/usr/bin/env bash
# Reads the event log of made-up masked records (written by the event-log
# unit tests) with libevt's evtinfo and evtexport, which share no code with
# our writer: every record is found by its length and read from its own
# offsets, so a wrong offset or length shows as a missing record or as
# names, SIDs and strings that differ from the masked ones.
#   check_masked_evt.sh EVT_FILE
set -u
evt=$1
# As a test of its own it is skipped with the programs that made the file.
[ -z "${GLEAN_WINE_ROOT:-}" ] || . "$(dirname "$(readlink -f "$0")")/wine-env.sh"
fail=0
info=$(evtinfo "$evt" 2>&1) || { echo "evtinfo failed: $info"; exit 1; }
records=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Number of records[[:space:]]*:[[:space:]]*//p')
recovered=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Number of recovered records[[:space:]]*:[[:space:]]*//p')
[ "$records" = 4 ] && [ "$recovered" = 0 ] || { echo "records $records, recovered $recovered"; printf '%s\n' "$info"; fail=1; }
exported=$(evtexport "$evt" 2>&1) || { echo "evtexport failed"; printf '%s\n' "$exported"; exit 1; }
fields=$(printf '%s\n' "$exported" |
  grep -E '^(Event number|User security identifier|Computer name|Source name|Event identifier|Number of strings|String: [0-9]+)[[:space:]]*:' |
  sed 's/\t\+:[ \t]*/: /; s/[[:space:]]*$//')
expected='Event number: 1
User security identifier: S-1-5-21-0-0-7-1001
Computer name: host1
Source name: user1-app
Event identifier: 0x00001210 (4624)
Number of strings: 2
String: 1: user1
String: 2: ip1
Event number: 2
User security identifier: S-1-0-0
Computer name: host1
Source name: GleanTest
Event identifier: 0x00001210 (4624)
Number of strings: 2
String: 1:
String: 2: x user1
Event number: 3
User security identifier: S-1-5-18
Computer name: host1
Source name: GleanTest
Event identifier: 0x00001210 (4624)
Number of strings: 0
Event number: 4
Computer name: host1
Source name: GleanTest
Event identifier: 0x00001210 (4624)
Number of strings: 1
String: 1: cut'
[ "$fields" = "$expected" ] || { echo "evtexport reads other records:"; diff <(printf '%s\n' "$expected") <(printf '%s\n' "$fields"); fail=1; }
for original in alice WORKPC 10.1.2.3; do
  if printf '%s\n' "$exported" | grep -q "$original"; then echo "$original is in the log"; fail=1; fi
done
[ $fail -eq 0 ] && echo "masked event log read whole by libevt"
exit $fail
