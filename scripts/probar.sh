#!/usr/bin/env bash
# Installs, builds and runs every test headless: its own X server (Xvfb), a private D-Bus
# session with an unlocked keyring, and a PulseAudio daemon with a null sink and a fake
# microphone. Exits non-zero on any failure.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
bash "$raiz/scripts/instalar.sh"
bash "$raiz/scripts/compilar.sh"
export ZENTU_BUILD="${ZENTU_BUILD:-$raiz/build}"
exec dbus-run-session -- bash "$raiz/scripts/entorno-pruebas.sh" "$@"
