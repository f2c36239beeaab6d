#!/usr/bin/env bash
# Runs one command inside a throw-away desktop session: its own HOME and XDG directories, an X
# server (Xvfb), a private D-Bus session bus and a private sound server with a null output and a
# microphone. Everything started here is stopped and removed when the command ends.
set -uo pipefail

tmp=$(mktemp -d /tmp/orvan-session.XXXXXX)
pids=()

cleanup() {
  if [ -n "${PULSE_SERVER_STARTED:-}" ]; then pulseaudio --kill >/dev/null 2>&1 || true; fi
  for pid in "${pids[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  for pid in "${pids[@]}"; do wait "$pid" >/dev/null 2>&1 || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME="$tmp/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$tmp/run" PULSE_STATE_PATH="$tmp/pulse-state"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$PULSE_STATE_PATH"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# X server. -displayfd picks a free display number and reports it once the server is ready.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1920x1080x24 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do [ -s "$tmp/display" ] && break; sleep 0.05; done
if [ ! -s "$tmp/display" ]; then echo "test-env: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; fi
export DISPLAY=":$(head -n1 "$tmp/display")"
export GDK_BACKEND=x11 NO_AT_BRIDGE=1 WEBKIT_DISABLE_COMPOSITING_MODE=1

# Private session bus. Its configuration names no service directories, so no desktop service
# installed on this machine (a notification daemon, a tray host) is ever started on demand: the
# tests' own small services are the only ones that answer.
cat >"$tmp/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$tmp/bus.conf" --nofork >"$tmp/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
for _ in $(seq 1 200); do [ -S "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.02; done

# Private sound server: "spk" is the default output, "mic" (a remap of a null sink's monitor) the
# default microphone, so tests can feed it known signals. Without explicit channel maps the remapped
# source delivers nothing at all. Like a desktop's, it suspends devices a second after their last
# stream closes. "offclock" is a microphone whose clock runs 100 ppm fast (a pipe fed a click every
# second of its own samples), for measuring drift.
if command -v pulseaudio >/dev/null 2>&1; then
  if pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disallow-exit=yes \
      --log-target="file:$tmp/pulse.log" \
      --load="module-native-protocol-unix auth-anonymous=1" \
      --load="module-null-sink sink_name=spk rate=48000 channels=2" \
      --load="module-null-sink sink_name=micsink rate=48000 channels=1" \
      --load="module-remap-source source_name=mic master=micsink.monitor master_channel_map=mono channel_map=mono" \
      --load="module-pipe-source source_name=offclock file=$tmp/offclock.fifo format=float32le rate=16000 channels=1" \
      --load="module-suspend-on-idle timeout=1" \
      >/dev/null 2>&1; then
    PULSE_SERVER_STARTED=1
    for _ in $(seq 1 200); do pactl info >/dev/null 2>&1 && break; sleep 0.02; done
    pactl set-default-sink spk >/dev/null 2>&1 || true
    pactl set-default-source mic >/dev/null 2>&1 || true
    python3 "$(dirname "$0")/offclock-feeder.py" "$tmp/offclock.fifo" 16000 100 &
    pids+=($!)
  else
    echo "test-env: the private sound server did not start; sound tests will fail" >&2
  fi
fi

export ORVAN_TEST_SESSION="$tmp"
"$@"
