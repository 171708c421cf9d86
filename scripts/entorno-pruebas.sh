#!/usr/bin/env bash
# Runs inside the private D-Bus session of probar.sh: starts the headless services, runs ctest,
# and stops the services again.
set -uo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"

# Private per-run folders: the keyring file, its control socket and the audio daemon's socket
# must not be shared with another test run on the same machine.
privado="$(mktemp -d /tmp/zentu-pruebas-XXXXXX)"
chmod 700 "$privado"
mkdir -p "$privado/run" "$privado/datos" "$privado/config" "$privado/cache"
chmod 700 "$privado/run"
export XDG_RUNTIME_DIR="$privado/run" XDG_DATA_HOME="$privado/datos" XDG_CONFIG_HOME="$privado/config" XDG_CACHE_HOME="$privado/cache"

# The keyring reads its (empty) password from standard input; it must get at least a newline.
echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 || true

# Xvfb picks a free display itself and tells which (several runs may share the machine).
numero="$(mktemp /tmp/zentu-pantalla-XXXXXX)"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$numero" >/dev/null 2>&1 &
pid_x=$!
for _ in $(seq 100); do [ -s "$numero" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$numero")"
rm -f "$numero"

# Audio: a private PulseAudio with a null sink and a sine source as microphone.
export PULSE_RUNTIME_PATH="$privado/run/pulse"
mkdir -p "$PULSE_RUNTIME_PATH" && chmod 700 "$PULSE_RUNTIME_PATH"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load="module-native-protocol-unix" \
  --load="module-null-sink sink_name=nulo" \
  --load="module-sine-source source_name=microfono frequency=440" >/dev/null 2>&1 || echo "[pruebas] sin PulseAudio"

ctest --test-dir "$ZENTU_BUILD" --output-on-failure -j "$(nproc)" "$@"
resultado=$?

pulseaudio --kill >/dev/null 2>&1 || true
kill "$pid_x" 2>/dev/null || true
rm -rf "$privado"
exit $resultado
