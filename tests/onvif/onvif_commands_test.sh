#!/usr/bin/env bash
# strevoctl's onvif commands against camsim's ONVIF cameras: discovery lists
# both cameras, info names the RTSP stream (checked with ffprobe), set shows in
# get, a PTZ move moves and stops, presets are stored, called and removed, a
# wrong password and a refused Stop say so. Runs inside scripts/netns-run.
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

"$camsim" --net 2 --net-first 127.0.7.2 --onvif --onvif-fault no-stop --onvif-fault-camera 2 \
  >"$work/camsim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "camsim: ready" "$work/camsim.log" && break; sleep 0.1; done
grep -q "camsim: ready" "$work/camsim.log" || { cat "$work/camsim.log" >&2; fail "camsim did not start"; }

printf 'quolt\n' >"$work/pw"
chmod 600 "$work/pw"
login=(--user admin --password-file "$work/pw")

found=$("$strevoctl" onvif discover --seconds 1)
echo "$found"
[ "$(grep -c $'^127.0.7.[23]\tIPC-[12]\thttp://127.0.7.[23]:80/onvif/device_service' <<<"$found")" -eq 2 ] ||
  fail "discover: $found"
one=$("$strevoctl" onvif discover --seconds 1 --to 127.0.7.3)
[ "$(wc -l <<<"$one")" -eq 1 ] && [[ $one == 127.0.7.3$'\t'IPC-2* ]] || fail "unicast discover: $one"

info=$("$strevoctl" onvif info 127.0.7.2 "${login[@]}")
echo "$info"
grep -q '^model=camsim IPC$' <<<"$info" || fail "info: $info"
uri=$(sed -n 's/^profile=main\tH264\t640x360\tptz=yes\t\(rtsp:.*\)$/\1/p' <<<"$info")
[ "$uri" = rtsp://127.0.7.2:554/main ] || fail "stream URI: $uri"
probe=$(ffprobe -v error -rtsp_transport tcp -select_streams v:0 \
  -show_entries stream=codec_name,width,height -of default=nw=1 "rtsp://admin:quolt@${uri#rtsp://}")
[ "$probe" = $'codec_name=h264\nwidth=640\nheight=360' ] || fail "ffprobe: $probe"

STREVO_PASSWORD=quolt "$strevoctl" onvif set 127.0.7.2 --user admin brightness=80 white-balance=MANUAL
got=$("$strevoctl" onvif get 127.0.7.2 "${login[@]}")
echo "$got"
grep -q $'^brightness=80.0\t0..100$' <<<"$got" || fail "get after set: $got"
grep -q $'^white-balance=MANUAL\tAUTO,MANUAL$' <<<"$got" || fail "get after set: $got"

# The image pages' keys go through the record translation; a key the camera
# has no setting for is refused and named.
"$strevoctl" onvif set 127.0.7.2 Luminance=40 eWBMode=1 "${login[@]}"
page=$("$strevoctl" onvif get 127.0.7.2 Luminance eWBMode "${login[@]}")
[ "$page" = $'Luminance=40\neWBMode=1' ] || fail "page keys: $page"
"$strevoctl" onvif get 127.0.7.2 --page "${login[@]}" | grep -q '^uiMShutterSpeed=' || fail "--page"
set +e
"$strevoctl" onvif set 127.0.7.2 ucHue=3 "${login[@]}" 2>"$work/err"; status=$?
set -e
[ $status -eq 1 ] && grep -q "no such setting" "$work/err" || fail "ucHue: $status $(cat "$work/err")"

"$strevoctl" onvif ptz 127.0.7.2 Right 8 --ms 200 "${login[@]}"
"$strevoctl" onvif preset 127.0.7.2 set door "${login[@]}" >"$work/token"
[ "$(cat "$work/token")" = 1 ] || fail "preset token: $(cat "$work/token")"
[ "$("$strevoctl" onvif presets 127.0.7.2 "${login[@]}")" = $'1\tdoor' ] || fail "presets"
"$strevoctl" onvif ptz 127.0.7.2 Home "${login[@]}"
"$strevoctl" onvif preset 127.0.7.2 goto 1 "${login[@]}"
"$strevoctl" onvif preset 127.0.7.2 remove 1 "${login[@]}"
[ -z "$("$strevoctl" onvif presets 127.0.7.2 "${login[@]}")" ] || fail "preset not removed"
"$strevoctl" onvif reboot 127.0.7.2 "${login[@]}" | grep -q Rebooting || fail "reboot"

# The camera that refuses Stop is stopped all the same, and says so.
"$strevoctl" onvif ptz 127.0.7.3 ZoomTele --ms 50 "${login[@]}" 2>"$work/err"
grep -q "refused Stop" "$work/err" || fail "no word of the refused Stop: $(cat "$work/err")"

set +e
printf 'Zq9secret\n' >"$work/bad"
"$strevoctl" onvif info 127.0.7.2 --user admin --password-file "$work/bad" 2>"$work/err"; status=$?
[ $status -eq 1 ] && grep -q "refused the user name or password" "$work/err" || fail "wrong password: $status $(cat "$work/err")"
grep -q Zq9secret "$work/err" && fail "the password shows in the message"
"$strevoctl" onvif set 127.0.7.2 hue=3 2>/dev/null; [ $? -eq 2 ] || fail "unknown key accepted"
"$strevoctl" onvif ptz 127.0.7.2 Spin 2>/dev/null; [ $? -eq 2 ] || fail "unknown action accepted"
echo PASS
