#!/usr/bin/env bash
# Builds what the demo runs (the program, the sample installers, the endpoint) and shows the online road: the reference endpoint on 127.0.0.1 offers a newer
# sample installer, InternetSetup.exe downloads it under Wine (throttled, so the gauge can be seen),
# verifies it and launches it. Uses your display when there is one, else Xvfb, and saves a screenshot.
#
#   scripts/demo.sh            the demo, screenshot in build/demo/window.png
#   scripts/demo.sh --readme   the same on a private Xvfb with a white background, and the window cut out of
#                              the screenshot into docs/window.png (the picture in the README)
set -euo pipefail
cd "$(dirname "$0")/.."
readme=0
[ "${1:-}" = "--readme" ] && readme=1
echo "== [1/4] packages the demo needs"
scripts/ensure-deps.sh demo
demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo"
# Only the demo's targets, not the tests: the program (with the sample installer it embeds) and the newer
# sample installer the endpoint serves, beside the endpoint; Wine makes its fresh prefix meanwhile.
echo "== [2/4] building InternetSetup.exe, the sample installers and the reference endpoint side by side"
scripts/build.sh --side-by-side "windows:InternetSetup sample_installer_next" native:internetsetup-endpoint
source scripts/wine-session.sh

readme_xvfb=
if [ "$readme" = 1 ]; then
  # A display of its own: nothing else on it, and white wherever the window's rounded corners are cut away.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp 3>"$demo/display-number" 2>/dev/null &
  readme_xvfb=$!
  for _ in $(seq 50); do [ -s "$demo/display-number" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$demo/display-number")"
fi
echo "== [3/4] starting the Wine session"
wine_session_start "$demo/prefix"

host=$(sed -n 's/^#define INTERNETSETUP_ENDPOINT_HOST "\(.*\)"$/\1/p' build/windows/generated/build_config.h)
echo "== [4/4] the online road: reference endpoint on $host, InternetSetup.exe under Wine"
build/native/endpoint/internetsetup-endpoint --listen "${host%:*}" --port "${host##*:}" \
  --installer build/windows/sample_installers/TalvimorasterSampleSetup-2.53.0.0.exe --version 2.53.0.0 \
  --fault installer:throttle=16384/60 >"$demo/endpoint.log" &
endpoint=$!
at_exit "kill $endpoint $readme_xvfb 2>/dev/null || true"
# Its first line says it listens.
for _ in $(seq 100); do grep -q '^listening' "$demo/endpoint.log" 2>/dev/null && break; sleep 0.05; done

wine build/windows/InternetSetup.exe &
program=$!
# Catch the window while the download runs.
for _ in $(seq 60); do
  sleep 0.25
  # The log line of the version request comes when it is answered; the download follows at once.
  if grep -q "/version.php" "$demo/endpoint.log" 2>/dev/null; then
    sleep 1.2
    xwd -root -silent | convert xwd:- "$demo/window.png" && echo "screenshot: $demo/window.png"
    if [ "$readme" = 1 ]; then
      # The window found by its caption, cut out with a 12-pixel margin.
      window=$(xdotool search --name "Интернет установщик" | head -1)
      eval "$(xdotool getwindowgeometry --shell "$window")"
      mkdir -p docs
      convert "$demo/window.png" -crop "$((WIDTH + 24))x$((HEIGHT + 24))+$((X - 12))+$((Y - 12))" +repage \
        docs/window.png && echo "README picture: docs/window.png (${WIDTH}x${HEIGHT} window)"
    fi
    break
  fi
done
wait $program
# The installer it launched writes its launch record, then ends.
launches=$WINEPREFIX/drive_c/users/$(id -un)/Temp/TalvimorasterSampleLaunches.log
for _ in $(seq 100); do [ -s "$launches" ] && break; sleep 0.1; done

echo "== requests the endpoint answered"
cat "$demo/endpoint.log"
echo "== launch record of the installer"
cat "$launches"
