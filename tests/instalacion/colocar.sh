#!/usr/bin/env bash
# The programs install to the chosen place, and every desktop and autostart entry names the
# installed program there, never the build folder.
set -euo pipefail
raiz="$1"
compilacion="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
falla() { echo "FALLO: $*" >&2; exit 1; }

prefijo="$tmp/con espacio/prefijo"
salida="$(ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$prefijo" XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/casa" \
  bash "$raiz/scripts/colocar.sh")"
[ "$salida" = "$prefijo" ] || falla "colocó en «$salida», no en «$prefijo»"
[ -x "$prefijo/bin/zentu-widgets" ] || falla "sin $prefijo/bin/zentu-widgets"

for entrada in "$prefijo/share/applications/zentu-widgets.desktop" "$tmp/config/autostart/zentu-widgets.desktop"; do
  [ -f "$entrada" ] || falla "sin $entrada"
  exec_linea="$(grep '^Exec=' "$entrada")"
  [ "$exec_linea" = "Exec=\"$prefijo/bin/zentu-widgets\"" ] || falla "$entrada: $exec_linea"
  if grep -qF "$compilacion" "$entrada"; then falla "$entrada nombra la carpeta de compilación"; fi
  grep -qx 'Type=Application' "$entrada" || falla "$entrada sin Type"
done
[ ! -e "$tmp/config/autostart/zentu-widgets.desktop.tmp" ] || falla "quedó un archivo a medias"

# Each entry's icon is installed in the icon theme, where the desktop and its notifications find it.
for entrada in "$prefijo"/share/applications/*.desktop; do
  icono="$(sed -n 's/^Icon=//p' "$entrada")"
  [ -n "$icono" ] || falla "$entrada sin icono"
  [ -f "$prefijo/share/icons/hicolor/scalable/apps/$icono.svg" ] || falla "$entrada: sin el icono $icono"
done

# The program's entries: itself (the handler of "zuzadari:" links) and "Enviar a Zentu AI".
if [ -x "$prefijo/bin/zentu" ]; then
  app="$prefijo/share/applications/ai.zentu.voz.desktop"
  enviar="$prefijo/share/applications/ai.zentu.voz.enviar.desktop"
  [ "$(grep '^Exec=' "$app")" = "Exec=\"$prefijo/bin/zentu\" %u" ] || falla "$app: $(grep '^Exec=' "$app")"
  grep -qx 'MimeType=x-scheme-handler/zuzadari;' "$app" || falla "$app no atiende zuzadari:"
  [ "$(grep '^Exec=' "$enviar")" = "Exec=\"$prefijo/bin/zentu\" --enviar-a-zentu %F" ] || falla "$enviar: $(grep '^Exec=' "$enviar")"
  grep -qx 'Name=Enviar a Zentu AI' "$enviar" || falla "$enviar sin su nombre"
  if grep -qF "$compilacion" "$app" "$enviar"; then falla "una entrada nombra la carpeta de compilación"; fi
  # The modules the program opens on first use, beside it and found through its run path.
  for modulo in pdf qr eco; do
    [ -f "$prefijo/lib/zentu/libzentu_$modulo.so" ] || falla "sin el módulo $modulo"
  done
  runpath="$(readelf -d "$prefijo/bin/zentu" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
  [ "$runpath" = '$ORIGIN/../lib/zentu' ] || falla "ruta de módulos: «$runpath»"
  if command -v xdg-mime >/dev/null; then
    grep -q 'x-scheme-handler/zuzadari=ai.zentu.voz.desktop' "$tmp/config/mimeapps.list" || falla "zuzadari: sin programa por omisión"
  fi
fi

# Where the path holds no character that the desktop-entry rules reserve, it stands unquoted:
# launchers that split the line themselves (xdg-open outside GNOME, KDE and Xfce) would take the
# quotes for part of the program's name.
llano="$tmp/llano"
ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$llano" XDG_CONFIG_HOME="$tmp/config-llano" HOME="$tmp/casa" \
  bash "$raiz/scripts/colocar.sh" >/dev/null
[ "$(grep '^Exec=' "$llano/share/applications/zentu-widgets.desktop")" = "Exec=$llano/bin/zentu-widgets" ] ||
  falla "widgets: $(grep '^Exec=' "$llano/share/applications/zentu-widgets.desktop")"
if [ -x "$llano/bin/zentu" ]; then
  for par in "ai.zentu.voz|%u" "ai.zentu.voz.enviar|--enviar-a-zentu %F"; do
    entrada="$llano/share/applications/${par%%|*}.desktop"
    [ "$(grep '^Exec=' "$entrada")" = "Exec=$llano/bin/zentu ${par#*|}" ] || falla "$entrada: $(grep '^Exec=' "$entrada")"
  done
fi

# Again, over what is there: the same result, nothing left behind.
ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$prefijo" XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/casa" \
  bash "$raiz/scripts/colocar.sh" >/dev/null
[ "$(ls "$tmp/config/autostart")" = "zentu-widgets.desktop" ] || falla "autostart: $(ls "$tmp/config/autostart")"

# Without an override, a user who is not root gets ~/.local.
if [ "$(id -u)" -ne 0 ]; then
  salida="$(ZENTU_BUILD="$compilacion" XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/casa" bash "$raiz/scripts/colocar.sh")"
  [ "$salida" = "$tmp/casa/.local" ] || falla "sin root colocó en «$salida»"
fi
echo "bien"
