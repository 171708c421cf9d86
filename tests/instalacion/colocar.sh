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

# "Enviar a Zentu AI" is offered by the file managers' menus and is no file type's default: with a
# viewer installed, every type the entry once named opens with the viewer before installing and
# after, and a file opened as the program opens a bubble's file reaches the viewer.
if [ -x "$prefijo/bin/zentu" ]; then
  enviar="$prefijo/share/applications/ai.zentu.voz.enviar.desktop"
  if grep -q '^MimeType=' "$enviar"; then falla "$enviar nombra tipos de archivo: $(grep '^MimeType=' "$enviar")"; fi
  for accion in kio/servicemenus/ai.zentu.voz.enviar.desktop nemo/actions/ai.zentu.voz.enviar.nemo_action \
                file-manager/actions/ai.zentu.voz.enviar.desktop Thunar/sendto/ai.zentu.voz.enviar.desktop; do
    [ -f "$prefijo/share/$accion" ] || falla "sin $accion"
    grep -qF "Exec=\"$prefijo/bin/zentu\" --enviar-a-zentu %F" "$prefijo/share/$accion" || falla "$accion: $(grep '^Exec=' "$prefijo/share/$accion")"
    grep -q 'Enviar a Zentu AI' "$prefijo/share/$accion" || falla "$accion sin su nombre"
  done
  script="${XDG_DATA_HOME:-$tmp/casa/.local/share}/nautilus/scripts/Enviar a Zentu AI"
  [ -x "$script" ] || falla "sin el script de Nautilus"
  grep -qF -- "--enviar-a-zentu" "$script" || falla "el script de Nautilus no envía: $(cat "$script")"

  tipos="application/pdf text/plain text/csv image/png image/jpeg image/gif image/webp image/heic audio/mpeg
    audio/mp4 video/mp4 application/zip application/msword
    application/vnd.openxmlformats-officedocument.wordprocessingml.document application/vnd.ms-excel
    application/vnd.openxmlformats-officedocument.spreadsheetml.sheet application/vnd.oasis.opendocument.text
    application/vnd.oasis.opendocument.spreadsheet application/octet-stream"
  visor="$tmp/visor"
  mkdir -p "$visor/share/applications"
  ln -s /usr/share/mime "$visor/share/mime"  # the machine's file types, none of its applications
  printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/abiertos"\n' "$visor" >"$visor/visor"
  chmod 755 "$visor/visor"
  {
    echo '[Desktop Entry]'
    echo 'Type=Application'
    echo 'Name=Visor'
    echo "Exec=$visor/visor %f"
    echo "MimeType=$(echo $tipos | tr ' ' ';');"
  } >"$visor/share/applications/visor.desktop"
  # Its folder's type cache, as the distribution's trigger writes it (GLib reads the associations there).
  {
    echo '[MIME Cache]'
    for t in $tipos; do echo "$t=visor.desktop;"; done
  } >"$visor/share/applications/mimeinfo.cache"
  otro="$tmp/otro"
  # A desktop with the viewer and, first in line, the place the program installs to.
  escritorio() {
    env -u XDG_CURRENT_DESKTOP -u DE HOME="$tmp/casa-visor" XDG_DATA_HOME="$tmp/casa-visor/datos" \
      XDG_CONFIG_HOME="$tmp/casa-visor/config" XDG_CONFIG_DIRS="$tmp/casa-visor/etc" \
      XDG_DATA_DIRS="$otro/share:$visor/share" "$@"
  }
  por_omision() {
    for t in $tipos; do
      abre="$(escritorio xdg-mime query default "$t")"
      [ "$abre" = "visor.desktop" ] || falla "$1: $t lo abre «$abre», no el visor"
      if command -v gio >/dev/null; then
        dice="$(escritorio gio mime "$t" 2>&1 || true)"
        [ "$(echo "$dice" | sed -n '1s/.*: //p')" = "visor.desktop" ] || falla "$1: para gio, $t: $dice"
      fi
    done
  }
  por_omision "antes de instalar"
  escritorio ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$otro" bash "$raiz/scripts/colocar.sh" >/dev/null
  por_omision "instalado"
  # What an earlier install left behind names the entry no more.
  printf '[MIME Cache]\napplication/pdf=ai.zentu.voz.enviar.desktop;\n' >"$otro/share/applications/mimeinfo.cache"
  printf '[Default Applications]\ntext/plain=ai.zentu.voz.enviar.desktop;\nx-scheme-handler/zuzadari=ai.zentu.voz.desktop\n' \
    >"$tmp/casa-visor/config/mimeapps.list"
  escritorio ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$otro" bash "$raiz/scripts/colocar.sh" >/dev/null
  por_omision "instalado sobre una instalación anterior"
  grep -q 'x-scheme-handler/zuzadari=ai.zentu.voz.desktop' "$tmp/casa-visor/config/mimeapps.list" ||
    falla "zuzadari: se perdió su programa"
  if [ -n "${DISPLAY:-}" ]; then
    printf '%%PDF-1.4\n%%%%EOF\n' >"$tmp/factura marzo.pdf"
    escritorio xdg-open "$tmp/factura marzo.pdf" >/dev/null 2>&1 || falla "xdg-open no abrió la factura"
    for _ in $(seq 200); do
      grep -qxF "$tmp/factura marzo.pdf" "$visor/abiertos" 2>/dev/null && break
      sleep 0.1
    done
    grep -qxF "$tmp/factura marzo.pdf" "$visor/abiertos" || falla "la factura no llegó al visor"
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
