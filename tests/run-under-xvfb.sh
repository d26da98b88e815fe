#!/bin/sh
# run-under-xvfb.sh [-s WxH] PROGRAM [ARGS...]
#
# Runs a program under a private Xvfb server of its own and returns the program's status.
#
# The server gets a random display number and its own authorisation cookie, and it is only
# used once a client holding that cookie has been seen to reach it. That matters on shared
# machines: a display number that looks free here (no lock file in this /tmp) may still be
# held by a server in another mount namespace through Linux's abstract socket, and a client
# would then reach that server and be refused ("could not connect to display"). Such a
# display is simply skipped and another one tried. On failure Xvfb's own log is printed.
size=1024x768
if [ "$1" = "-s" ]; then
  size=$2
  shift 2
fi
for tool in Xvfb xauth xdotool mcookie; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "run-under-xvfb: $tool is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

tmp=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

XAUTHORITY="$tmp/Xauthority"
export XAUTHORITY
: >"$XAUTHORITY"
cookie=$(mcookie)
want=$(echo "$size" | tr x ' ') # what xdotool reports of our server's screen
attempt=0
ready=
while [ $attempt -lt 8 ] && [ -z "$ready" ]; do
  attempt=$((attempt + 1))
  number=$(( $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 30000 + 200 ))
  xauth -q add ":$number" . "$cookie" 2>>"$tmp/xvfb.log"
  Xvfb ":$number" -auth "$XAUTHORITY" -screen 0 "${size}x24" -nolisten tcp \
    >>"$tmp/xvfb.log" 2>&1 &
  server=$!
  i=0
  while [ $i -lt 200 ]; do
    if ! kill -0 "$server" 2>/dev/null; then
      break # the server gave up on this display (taken, for instance)
    fi
    if [ "$(DISPLAY=":$number" xdotool getdisplaygeometry 2>/dev/null)" = "$want" ]; then
      ready=yes
      break
    fi
    sleep 0.05
    i=$((i + 1))
  done
  if [ -z "$ready" ]; then
    echo "run-under-xvfb: display :$number could not be used, attempt $attempt" >>"$tmp/xvfb.log"
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    server=
  fi
done
if [ -z "$ready" ]; then
  echo "run-under-xvfb: no private X server could be started:" >&2
  cat "$tmp/xvfb.log" >&2
  exit 1
fi

DISPLAY=":$number"
export DISPLAY
"$@"
status=$?
if [ $status -ne 0 ]; then
  echo "run-under-xvfb: the program ended with status $status on display $DISPLAY; Xvfb said:" >&2
  cat "$tmp/xvfb.log" >&2
fi
exit $status
