#!/usr/bin/env bash
# Installs what is missing, builds, installs the programs (/usr/local as root, else ~/.local),
# registers the widget host to start at login, and starts the program.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
bash "$raiz/scripts/instalar.sh"
bash "$raiz/scripts/compilar.sh"
prefijo="$(bash "$raiz/scripts/colocar.sh")"
bin="$prefijo/bin"

# Links of the "zuzadari" scheme (widgets, automation) open the installed program.
if command -v xdg-mime >/dev/null && [ -f "$prefijo/share/applications/ai.zentu.voz.desktop" ]; then
  command -v update-desktop-database >/dev/null && update-desktop-database "$prefijo/share/applications" || true
  xdg-mime default ai.zentu.voz.desktop x-scheme-handler/zuzadari || true
fi

# The widget host runs beside the app; a second copy of the host gives way to the one running.
if [ -x "$bin/zentu" ] && [ -x "$bin/zentu-widgets" ]; then
  nohup "$bin/zentu-widgets" >/dev/null 2>&1 &
fi

for programa in "$bin/zentu" "$bin/zentu-widgets"; do
  if [ -x "$programa" ]; then exec "$programa" "$@"; fi
done
echo "Instalado en $prefijo; todavía no hay un programa que arrancar." >&2
