#!/usr/bin/env bash
# A benchmark runs to its end with a short setting on the test desktop: it exits with status 0
# and prints its figures with their spread (the line that holds `esperado`). No figure is judged:
# benchmarks are never timed in the test run.
# Usage: correr.sh PROGRAMA ESPERADO [ARGUMENTOS...]
set -uo pipefail
programa="$1"
esperado="$2"
shift 2
salida="$(mktemp)"
trap 'rm -f "$salida"' EXIT
"$programa" "$@" >"$salida"
estado=$?
cat "$salida"
if [ "$estado" -ne 0 ]; then
  echo "FALLO: $(basename "$programa") terminó con estado $estado" >&2
  exit 1
fi
if ! grep -qF -- "$esperado" "$salida"; then
  echo "FALLO: $(basename "$programa") no imprimió «$esperado»" >&2
  exit 1
fi
