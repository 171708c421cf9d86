#!/usr/bin/env bash
# Installs everything the project needs on Debian 12 (run as root). Idempotent: when all is
# already there it only checks and returns in a second or two.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"

mapfile -t paquetes < <(grep -v '^#' "$raiz/scripts/paquetes.txt" | tr ' ' '\n' | sed '/^$/d')
faltan=()
for p in "${paquetes[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    faltan+=("$p")
  fi
done
if ((${#faltan[@]})); then
  echo "[instalar] paquetes: ${faltan[*]}"
  sudo_=""
  [ "$(id -u)" -ne 0 ] && sudo_="sudo"
  # Another install on the same machine may hold the package lock: wait for it.
  $sudo_ apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${faltan[@]}"
fi

# Node.js runs the stand-in service of the tests. The machine's own Node (with npm) is used
# when present; Debian's otherwise.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nodejs npm
fi

servicio="$raiz/tests/servicio"
if [ ! -d "$servicio/node_modules/socket.io" ] || [ "$servicio/package-lock.json" -nt "$servicio/node_modules/.package-lock.json" ]; then
  echo "[instalar] npm ci en tests/servicio"
  (cd "$servicio" && npm ci --no-audit --no-fund --loglevel=error)
fi
