#!/usr/bin/env bash
# Builds everything and shows the online road: the reference endpoint on 127.0.0.1 offers a newer
# sample installer, InternetSetup.exe downloads it under Wine (throttled, so the gauge can be seen),
# verifies it and launches it. Uses your display when there is one, else Xvfb, and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset native >/dev/null
cmake --build --preset native --target internetsetup-endpoint
source scripts/display.sh

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo"
export WINEPREFIX=$demo/prefix WINEDEBUG=-all
echo "== preparing a Wine prefix (about 10 s the first time)"
wineboot -i >/dev/null 2>&1
wineserver -w

host=$(sed -n 's/^#define INTERNETSETUP_ENDPOINT_HOST "\(.*\)"$/\1/p' build/windows/generated/build_config.h)
echo "== reference endpoint on $host"
build/native/endpoint/internetsetup-endpoint --listen "${host%:*}" --port "${host##*:}" \
  --installer build/windows/sample_installers/TalvimorasterSampleSetup-2.53.0.0.exe --version 2.53.0.0 \
  --fault installer:throttle=16384/60 >"$demo/endpoint.log" &
endpoint=$!
trap 'kill $endpoint 2>/dev/null || true; kill ${INTERNETSETUP_XVFB_PID:-} 2>/dev/null || true' EXIT
sleep 0.5

echo "== InternetSetup.exe"
wine build/windows/InternetSetup.exe &
program=$!
# Catch the window while the download runs.
for _ in $(seq 60); do
  sleep 0.25
  # The log line of the version request comes when it is answered; the download follows at once.
  if grep -q "/version.php" "$demo/endpoint.log" 2>/dev/null; then
    sleep 1.2
    xwd -root -silent | convert xwd:- "$demo/window.png" && echo "screenshot: $demo/window.png"
    break
  fi
done
wait $program
wineserver -w

echo "== requests the endpoint answered"
cat "$demo/endpoint.log"
echo "== launch record of the installer"
cat "$WINEPREFIX/drive_c/users/$(id -un)/Temp/TalvimorasterSampleLaunches.log"
