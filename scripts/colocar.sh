#!/usr/bin/env bash
# Installs the built programs to a fixed place and registers the widget host to start at login.
# The place: /usr/local when run as root, else ~/.local (ZENTU_PREFIJO overrides it). Every
# desktop and autostart entry names the installed programs, never the build folder.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
compilacion="${ZENTU_BUILD:-$raiz/build}"
if [ -n "${ZENTU_PREFIJO:-}" ]; then
  prefijo="$ZENTU_PREFIJO"
elif [ "$(id -u)" -eq 0 ]; then
  prefijo=/usr/local
else
  prefijo="$HOME/.local"
fi
cmake --install "$compilacion" --prefix "$prefijo" >/dev/null

# Started with every login (XDG autostart): the installed entry, copied as it is.
inicio="${XDG_CONFIG_HOME:-$HOME/.config}/autostart"
for entrada in zentu-widgets; do
  origen="$prefijo/share/applications/$entrada.desktop"
  [ -f "$origen" ] || continue
  mkdir -p "$inicio"
  cp -f "$origen" "$inicio/$entrada.desktop.tmp"
  mv -f "$inicio/$entrada.desktop.tmp" "$inicio/$entrada.desktop"
done
# Links of the "zuzadari:" scheme (the widgets' clicks) open the program.
aplicaciones="$prefijo/share/applications"
if [ -f "$aplicaciones/ai.zentu.voz.desktop" ]; then
  command -v update-desktop-database >/dev/null && update-desktop-database "$aplicaciones" 2>/dev/null || true
  command -v xdg-mime >/dev/null && xdg-mime default ai.zentu.voz.desktop x-scheme-handler/zuzadari 2>/dev/null || true
fi
echo "$prefijo"
