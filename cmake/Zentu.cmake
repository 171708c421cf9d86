# One static library per source folder. Sources are picked up by glob so that a new
# component is one new file pair, with no edit to a shared list.
function(zentu_biblioteca nombre)
  cmake_parse_arguments(ARG "" "" "DEPENDE;PRIVADO" ${ARGN})
  file(GLOB fuentes CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER fuentes EXCLUDE REGEX "/main\\.cpp$")
  set(compilables ${fuentes})
  list(FILTER compilables INCLUDE REGEX "\\.(cpp|qrc)$")
  if(NOT compilables)
    # A folder with nothing in it yet still takes part in the chain of dependencies.
    add_library(${nombre} INTERFACE)
    target_include_directories(${nombre} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${nombre} INTERFACE ${ARG_DEPENDE})
    return()
  endif()
  add_library(${nombre} STATIC ${fuentes})
  # Headers are included by folder path from src/ (e.g. "zentu/conexion/Cuenta.h").
  target_include_directories(${nombre} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${nombre} PUBLIC ${ARG_DEPENDE} PRIVATE ${ARG_PRIVADO})
  set_target_properties(${nombre} PROPERTIES LINKER_LANGUAGE CXX)
endfunction()

# A desktop entry for an installed program, written at install time so that its Exec line names
# the program where it was installed (whatever --prefix the install was given), never a build
# folder. `plantilla` is a .desktop file whose Exec holds @ZENTU_PROGRAMA@ (unquoted: the path is
# quoted there only where it needs it).
include(GNUInstallDirs)
function(zentu_entrada_escritorio programa plantilla)
  # The entry's file name is the program's unless a third argument names it.
  set(nombre ${programa})
  if(ARGC GREATER 2)
    set(nombre ${ARGV2})
  endif()
  zentu_archivo_con_programa(${programa} ${plantilla} ${nombre}.desktop applications)
endfunction()

# A file whose Exec names the installed program, as above, installed as `archivo` in the folder
# `carpeta` of the data directory (a file manager's folder of actions, for example).
function(zentu_archivo_con_programa programa plantilla archivo carpeta)
  set(salida ${CMAKE_CURRENT_BINARY_DIR}/${carpeta}/${archivo})
  install(CODE "
    set(ZENTU_RUTA_PROGRAMA \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${programa}\")
    set(ZENTU_PLANTILLA \"${plantilla}\")
    set(ZENTU_SALIDA \"${salida}\")
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/EntradaEscritorio.cmake\")
  ")
  # Readable and runnable by all: some file managers take actions only from executable files.
  install(FILES ${salida} DESTINATION ${CMAKE_INSTALL_DATADIR}/${carpeta}
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()
