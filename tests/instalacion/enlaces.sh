#!/usr/bin/env bash
# A "zuzadari:" link reaches the running program through the installed desktop entry when
# xdg-open runs in its generic mode (every desktop but GNOME, KDE and Xfce), as a click on a
# widget does on such a desktop: the installed zentu hands the link to the one running and ends.
set -euo pipefail
raiz="$1"
compilacion="$2"
tmp="$(mktemp -d)"
programa=""
limpiar() {
  if [ -n "$programa" ]; then
    kill "$programa" 2>/dev/null || true
    wait "$programa" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap limpiar EXIT
falla() {
  echo "FALLO: $*" >&2
  echo "--- registro del programa:" >&2
  cat "$tmp/registro" >&2 || true
  exit 1
}

# A user's own install, with nothing of the desktop's: xdg-open finds no GNOME, KDE or Xfce.
export HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/casa/.config" XDG_DATA_HOME="$tmp/casa/.local/share"
unset XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID \
  MATE_DESKTOP_SESSION_ID BROWSER
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
prefijo="$(ZENTU_BUILD="$compilacion" ZENTU_PREFIJO="$HOME/.local" bash "$raiz/scripts/colocar.sh")"
[ -x "$prefijo/bin/zentu" ] || { echo "sin zentu instalado: nada que probar"; exit 0; }
[ "$(xdg-mime query default x-scheme-handler/zuzadari)" = "ai.zentu.voz.desktop" ] ||
  falla "zuzadari: lo abre «$(xdg-mime query default x-scheme-handler/zuzadari)»"

"$prefijo/bin/zentu" 2>"$tmp/registro" &
programa=$!
for _ in $(seq 300); do
  grep -q '\[app\] lista' "$tmp/registro" && break
  kill -0 "$programa" 2>/dev/null || falla "el programa terminó al arrancar"
  sleep 0.1
done
grep -q '\[app\] lista' "$tmp/registro" || falla "el programa no arrancó"

# The log says where each link came from: a terminal here, the widget host (which marks what it
# opens) next.
abrir() {
  estado=0
  env "$@" >"$tmp/xdg-open" 2>&1 || estado=$?
  [ "$estado" -eq 0 ] || falla "$* terminó con $estado: $(cat "$tmp/xdg-open")"
}
esperar_linea() {
  for _ in $(seq 300); do
    grep -qF "$1" "$tmp/registro" && return 0
    sleep 0.1
  done
  falla "el enlace no llegó al programa: sin «$1»"
}
abrir xdg-open "zuzadari://chat"
esperar_linea '[enlace] abierto: chat'
abrir ZENTU_DESDE_WIDGET=1 xdg-open "zuzadari://dia"
esperar_linea '[enlace] abierto desde un widget: dia'
echo "bien"
