#!/usr/bin/env bash
# camsim's ONVIF side checked by a client nobody here wrote: the npm package
# onvif (pinned), installed outside the namespace into CACHE, then run against
# camsim inside scripts/netns-run, and ffprobe on the stream URI it got.
# Exits 77 (skipped) with one line when npm cannot install the package.
set -euo pipefail
netns_run=$1 camsim=$2 cache=$3
version=0.8.3
if [ "${4:-}" != --inside ]; then
  if [ ! -f "$cache/node_modules/onvif/package.json" ] ||
     ! grep -q "\"version\": \"$version\"" "$cache/node_modules/onvif/package.json"; then
    mkdir -p "$cache"
    if ! (cd "$cache" && timeout 300 npm install --no-audit --no-fund --silent "onvif@$version") >/dev/null 2>&1; then
      echo "SKIP: npm cannot install onvif@$version"
      exit 77
    fi
  fi
  exec "$netns_run" "$0" "$netns_run" "$camsim" "$cache" --inside
fi
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
"$camsim" --net 1 --net-first 127.0.8.2 --onvif --no-discovery >"$work/camsim.log" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "camsim: ready" "$work/camsim.log" && break; sleep 0.1; done
grep -q "camsim: ready" "$work/camsim.log" || { cat "$work/camsim.log" >&2; exit 1; }
uri=$(NODE_PATH="$cache/node_modules" node "$(dirname "$0")/onvif_peer.js" 127.0.8.2 80)
echo "stream: $uri"
[ "$uri" = rtsp://127.0.8.2:554/main ] || { echo "FAIL: stream URI $uri" >&2; exit 1; }
probe=$(ffprobe -v error -rtsp_transport tcp -select_streams v:0 \
  -show_entries stream=codec_name,width,height -of default=nw=1 "rtsp://admin:quolt@${uri#rtsp://}")
[ "$probe" = $'codec_name=h264\nwidth=640\nheight=360' ] || { echo "FAIL: ffprobe: $probe" >&2; exit 1; }
echo PASS
