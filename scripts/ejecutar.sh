#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
bash "$raiz/scripts/instalar.sh"
bash "$raiz/scripts/compilar.sh"
compilacion="${ZENTU_BUILD:-$raiz/build}"
for programa in "$compilacion/src/zentu/app/zentu" "$compilacion/src/widgets/zentu-widgets"; do
  if [ -x "$programa" ]; then exec "$programa" "$@"; fi
done
echo "Compilado en $compilacion; todavía no hay un programa que arrancar." >&2
