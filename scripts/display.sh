# Sourced (by scripts/wine-session.sh): makes sure DISPLAY names a running X server, starting Xvfb when
# there is none and stopping it when the script exits.
display_number=${DISPLAY:-}
display_number=${display_number#*:}
display_number=${display_number%%.*}
if [ -z "${DISPLAY:-}" ] || [ ! -S "/tmp/.X11-unix/X$display_number" ]; then
  for n in $(seq 90 99); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      INTERNETSETUP_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      at_exit 'kill $INTERNETSETUP_XVFB_PID 2>/dev/null || true'
      break
    fi
  done
fi
