#!/usr/bin/env bash
# Installs what is missing, builds, installs the programs (/usr/local as root, else ~/.local),
# registers the widget host to start at login, and starts the program.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
bash "$raiz/scripts/instalar.sh"
bash "$raiz/scripts/compilar.sh"
prefijo="$(bash "$raiz/scripts/colocar.sh")"
bin="$prefijo/bin"

# The widget host runs beside the app; a second copy of the host gives way to the one running.
if [ -x "$bin/zentu" ] && [ -x "$bin/zentu-widgets" ]; then
  nohup "$bin/zentu-widgets" >/dev/null 2>&1 &
fi

for programa in "$bin/zentu" "$bin/zentu-widgets"; do
  if [ -x "$programa" ]; then exec "$programa" "$@"; fi
done
echo "Instalado en $prefijo; todavía no hay un programa que arrancar." >&2
