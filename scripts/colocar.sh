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
  # "Enviar a Zentu AI" opens no file type by default. An earlier install named it for about
  # twenty types, which made it their default opener; what that left behind (the type cache of
  # this folder, the user's list of associations) stops naming it.
  for lista in "$aplicaciones/mimeinfo.cache" "${XDG_CONFIG_HOME:-$HOME/.config}/mimeapps.list"; do
    [ -f "$lista" ] && grep -q 'ai\.zentu\.voz\.enviar\.desktop' "$lista" || continue
    sed -e 's/ai\.zentu\.voz\.enviar\.desktop;\{0,1\}//g' -e '/^[^=[]*=$/d' "$lista" >"$lista.tmp"
    mv -f "$lista.tmp" "$lista"
  done
  command -v xdg-mime >/dev/null && xdg-mime default ai.zentu.voz.desktop x-scheme-handler/zuzadari 2>/dev/null || true
fi
# Nautilus offers files to the scripts in its own folder (its "Scripts" menu), one per user; the
# program is offered there as "Enviar a Zentu AI", as in the other file managers' menus.
if [ -x "$prefijo/bin/zentu" ]; then
  scripts="${XDG_DATA_HOME:-$HOME/.local/share}/nautilus/scripts"
  mkdir -p "$scripts"
  {
    echo '#!/bin/sh'
    echo '# Sends the selected files to the chat of Zentu AI (installed by Zentu AI).'
    printf 'exec %q --enviar-a-zentu "$@"\n' "$prefijo/bin/zentu"
  } >"$scripts/.Enviar a Zentu AI.tmp"
  chmod 755 "$scripts/.Enviar a Zentu AI.tmp"
  mv -f "$scripts/.Enviar a Zentu AI.tmp" "$scripts/Enviar a Zentu AI"
fi
echo "$prefijo"
