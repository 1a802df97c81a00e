#!/bin/sh
# The identifier at about 35 days of uptime, where the tick count reads negative and the identifier
# is longest. Wine's tick count is the Linux side's monotonic clock: the run gets a time namespace,
# and a prefix and Wine server of its own.
unshare --time true 2>/dev/null || { echo "skipped: no time namespace for this user"; exit 77; }
export WINEPREFIX="${WINEPREFIX:?}-uptime" KV_LONG_UPTIME=1 WINEDEBUG=-all
offset=$((3000000 - $(cut -d. -f1 /proc/uptime)))
wineserver -k </dev/null >/dev/null 2>&1
cd "${1:?bin folder}" && exec unshare --time --monotonic "$offset" --boottime "$offset" sh -c '
  wineboot -u </dev/null >/dev/null 2>&1
  wine util_tests.exe --gtest_filter=Identity.Uid* </dev/null; code=$?
  wineserver -k </dev/null >/dev/null 2>&1; exit $code'
