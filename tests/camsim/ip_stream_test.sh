#!/usr/bin/env bash
# strevoctl ip stream against camsim: the file it writes is H.264 of the size and
# rate the camera was given; a refused stream, an absent camera and bad arguments
# give their exit statuses. Runs inside scripts/netns-run.
set -euo pipefail
camsim=$1
strevoctl=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

start() {  # log-name camsim-arguments...
  local log="$work/$1.log"
  shift
  "$camsim" --no-discovery "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q "camsim: ready" "$log" && return; sleep 0.1; done
  cat "$log" >&2
  fail "camsim did not start"
}
start good --net 1 --net-first 127.0.0.2 --net-video 320x240@25
start refusing --net 1 --net-first 127.0.0.3 --net-max-streams 0

out=$("$strevoctl" ip stream 127.0.0.2 --seconds 2 --out "$work/main.h264")
echo "$out"
[[ $out =~ ^frames=([0-9]+)\ bytes=([0-9]+)\ type=H.264\ fps=([0-9.]+) ]] || fail "report: $out"
(( BASH_REMATCH[1] >= 10 )) || fail "too few frames: $out"
[ "$(stat -c %s "$work/main.h264")" -eq "${BASH_REMATCH[2]}" ] || fail "file size differs from the bytes reported"
probe=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height,r_frame_rate \
  -of default=nw=1 "$work/main.h264")
echo "$probe"
[ "$probe" = $'codec_name=h264\nwidth=320\nheight=240\nr_frame_rate=25/1' ] || fail "ffprobe: $probe"

set +e
"$strevoctl" ip stream 127.0.0.3 --seconds 1 2>"$work/err"; status=$?
set -e
[ $status -eq 1 ] && grep -q "stream request to 127.0.0.3 failed (code -10)" "$work/err" ||
  fail "refused stream: status $status, $(cat "$work/err")"
set +e
"$strevoctl" ip stream 127.0.0.9 --seconds 1 2>"$work/err"; status=$?
set -e
[ $status -eq 1 ] && grep -q "login to 127.0.0.9 failed (code -5)" "$work/err" ||
  fail "absent camera: status $status, $(cat "$work/err")"
for args in "127.0.0.2 --seconds 0" "127.0.0.2 --out" "127.0.0.2 --fast" ""; do
  set +e
  # shellcheck disable=SC2086
  "$strevoctl" ip stream $args >/dev/null 2>&1; status=$?
  set -e
  [ $status -eq 2 ] || fail "'$args' gave status $status, not 2"
done
echo "ip stream: all checks passed"
