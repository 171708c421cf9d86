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

# Audio: a private sound server with a null sink as speakers ("nulo"), a sine as microphone
# ("microfono" under PulseAudio, "tono.monitor" under PipeWire) and a second null sink whose silent monitor a test can take as a
# microphone nobody speaks into ("silencio.monitor"). Two servers are used, as on Debian's
# desktops: PulseAudio, and PipeWire with its pulse server and WirePlumber.
export PULSE_RUNTIME_PATH="$privado/run/pulse"
mkdir -p "$PULSE_RUNTIME_PATH" && chmod 700 "$PULSE_RUNTIME_PATH"
pids_sonido=()

esperar_pulse() {
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

arrancar_pulseaudio() {
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --load="module-native-protocol-unix" \
    --load="module-null-sink sink_name=nulo" \
    --load="module-null-sink sink_name=silencio channels=1" \
    --load="module-sine-source source_name=microfono frequency=440" >/dev/null 2>&1 || return 1
  esperar_pulse || return 1
  pactl set-default-sink nulo && pactl set-default-source microfono
}
parar_pulseaudio() {
  pulseaudio --kill >/dev/null 2>&1 || true
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 || break; sleep 0.1; done
}

arrancar_pipewire() {
  local conf="$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
  mkdir -p "$conf"
  cat >"$conf/zentu-pruebas.conf" <<'CONF'
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = nulo media.class = Audio/Sink
             audio.position = [ FL FR ] object.linger = true } }
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = silencio media.class = Audio/Sink
             audio.position = [ MONO ] object.linger = true } }
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = tono media.class = Audio/Sink
             audio.position = [ MONO ] object.linger = true } }
]
CONF
  pipewire >"$privado/pipewire.log" 2>&1 &
  pids_sonido+=($!)
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  wireplumber >"$privado/wireplumber.log" 2>&1 &
  pids_sonido+=($!)
  pipewire-pulse >"$privado/pipewire-pulse.log" 2>&1 &
  pids_sonido+=($!)
  esperar_pulse || return 1
  # WirePlumber finds the nodes a moment after it starts.
  for _ in $(seq 100); do pactl list short sinks 2>/dev/null | grep -q tono && break; sleep 0.1; done
  # The microphone is a sine played into a sink of its own, heard on its monitor: PipeWire's own
  # test source stops giving sound once a second client comes and goes.
  (ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=48000 -f s16le -ac 1 - 2>/dev/null |
    pacat --device=tono --raw --format=s16le --rate=48000 --channels=1 --client-name=microfono 2>/dev/null) &
  pids_sonido+=($!)
  pactl set-default-sink nulo && pactl set-default-source tono.monitor
}
parar_pipewire() {
  for pid in "${pids_sonido[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids_sonido[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids_sonido=()
}

# Every test runs under PulseAudio; the tests labelled "sonido" run again under PipeWire.
# ZENTU_SERVIDORES_SONIDO chooses (e.g. "pipewire" alone).
resultado=0
for servidor in ${ZENTU_SERVIDORES_SONIDO:-pulseaudio pipewire}; do
  export ZENTU_SERVIDOR_SONIDO="$servidor"
  filtro=()
  [ "$servidor" = pipewire ] && [ "${ZENTU_SERVIDORES_SONIDO:-}" != pipewire ] && filtro=(-L sonido)
  if ! "arrancar_$servidor"; then
    echo "[pruebas] no arrancó $servidor"
    resultado=1
    # Without its server the sound tests fail; the rest still runs in the first pass.
    if [ "${#filtro[@]}" -gt 0 ]; then "parar_$servidor"; continue; fi
  fi
  echo "[pruebas] servidor de sonido: $servidor"
  ctest --test-dir "$ZENTU_BUILD" --output-on-failure -j "$(nproc)" "${filtro[@]}" "$@" || resultado=1
  "parar_$servidor"
done

kill "$pid_x" 2>/dev/null || true
rm -rf "$privado"
exit $resultado
