#!/bin/sh
# Runs a program under a private Xvfb server. Xvfb picks the display number itself
# (-displayfd), so runs in parallel never share or race for a display as `xvfb-run -a` can.
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
server=$!
i=0
while [ ! -s "$tmp/display" ] && [ $i -lt 200 ]; do
  sleep 0.05
  i=$((i + 1))
done
if [ ! -s "$tmp/display" ]; then
  echo "run-under-xvfb: Xvfb did not start:" >&2
  cat "$tmp/xvfb.log" >&2
  kill $server 2>/dev/null
  rm -rf "$tmp"
  exit 1
fi
DISPLAY=":$(cat "$tmp/display")"
export DISPLAY
"$@"
status=$?
kill $server 2>/dev/null
wait $server 2>/dev/null
rm -rf "$tmp"
exit $status
