# Run at install time: writes one desktop entry from its template, with @ZENTU_PROGRAMA@ standing
# for the installed program. Given: ZENTU_PLANTILLA, ZENTU_SALIDA, ZENTU_RUTA_PROGRAMA.
#
# The desktop-entry rules quote an argument of Exec only when it holds a reserved character.
# Launchers that split the line themselves (xdg-open outside GNOME, KDE and Xfce) take a quoted
# program name for the name itself, quotes and all, and fail to start it; so a plain path stays
# plain. Inside quotes a double quote, backquote, dollar sign and backslash get a backslash; then
# the rules for any string value double every backslash; a percent sign is always doubled.
set(ruta "${ZENTU_RUTA_PROGRAMA}")
string(REPLACE "%" "%%" ruta "${ruta}")
if(ruta MATCHES "[ \t\n\"'\\\\><~|&;$*?#`()]")
  string(REPLACE "\\" "\\\\" ruta "${ruta}")
  string(REPLACE "\"" "\\\"" ruta "${ruta}")
  string(REPLACE "`" "\\`" ruta "${ruta}")
  string(REPLACE "$" "\\$" ruta "${ruta}")
  set(ruta "\"${ruta}\"")
  string(REPLACE "\\" "\\\\" ruta "${ruta}")
  string(REPLACE "\n" "\\n" ruta "${ruta}")
  string(REPLACE "\t" "\\t" ruta "${ruta}")
endif()
set(ZENTU_PROGRAMA "${ruta}")
configure_file("${ZENTU_PLANTILLA}" "${ZENTU_SALIDA}" @ONLY)
