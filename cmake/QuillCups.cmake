# Where the CUPS filters are installed.
#
# CUPS runs filters only from <ServerBin>/filter. ServerBin comes from
# `cups-config --serverbin` (cache variable QUILL_CUPS_SERVERBIN, e.g.
# /usr/lib/cups). The folder is chosen when installing, not when
# configuring, because `cmake --install build --prefix P` may name the prefix
# only then:
#   - when ServerBin lies inside P (P = /usr for /usr/lib/cups), the filters
#     go to <ServerBin>/filter, where the installed CUPS finds them;
#   - for any other P (a scratch folder, /usr/local, /opt/quill) they go to
#     P/lib/cups/filter, a private copy CUPS does not look into.
# DESTDIR is put in front of either, so a staged install
# (DESTDIR=/tmp/root cmake --install build --prefix /usr) lands in
# /tmp/root/usr/lib/cups/filter.

find_program(QUILL_CUPS_CONFIG cups-config)

# quill_cups_config(<var> <option> <default>): `cups-config <option>`, or
# <default> without cups-config.
function(quill_cups_config var option default)
  set(value "${default}")
  if(QUILL_CUPS_CONFIG)
    execute_process(COMMAND ${QUILL_CUPS_CONFIG} ${option} OUTPUT_VARIABLE out
                    RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0 AND IS_ABSOLUTE "${out}")
      set(value "${out}")
    endif()
  endif()
  set(${var} "${value}" PARENT_SCOPE)
endfunction()

quill_cups_config(_quill_serverbin --serverbin /usr/lib/cups)
set(QUILL_CUPS_SERVERBIN "${_quill_serverbin}" CACHE PATH
    "CUPS ServerBin; the filters install into its filter/ folder when the install prefix contains it")
# CUPS's DataDir, and the prefix CUPS itself is installed under (the one
# cups-config is in): the system prefix, /usr on Linux distributions.
quill_cups_config(QUILL_CUPS_DATADIR --datadir /usr/share/cups)
set(QUILL_CUPS_PREFIX /usr)
if(QUILL_CUPS_CONFIG)
  get_filename_component(QUILL_CUPS_PREFIX "${QUILL_CUPS_CONFIG}" REALPATH)
  get_filename_component(QUILL_CUPS_PREFIX "${QUILL_CUPS_PREFIX}" DIRECTORY)
  get_filename_component(QUILL_CUPS_PREFIX "${QUILL_CUPS_PREFIX}" DIRECTORY)
endif()

# Run-time search path of a filter that links libquillcore (installed in
# <prefix>/lib): next to the program, ../lib (the build tree), ../.. (a
# filter in <prefix>/lib/cups/filter, which is <ServerBin>/filter too when
# ServerBin is <prefix>/lib/cups), and from <ServerBin>/filter to the lib
# folder of the system prefix when that is yet another path.
set(QUILL_FILTER_INSTALL_RPATH "\$ORIGIN;\$ORIGIN/../lib;\$ORIGIN/../..")
file(RELATIVE_PATH _quill_rel "${QUILL_CUPS_SERVERBIN}/filter" "${QUILL_CUPS_PREFIX}/lib")
string(REGEX REPLACE "/$" "" _quill_rel "${_quill_rel}")
if(NOT _quill_rel STREQUAL "../.." AND NOT _quill_rel STREQUAL "../lib")
  string(APPEND QUILL_FILTER_INSTALL_RPATH ";\$ORIGIN/${_quill_rel}")
endif()

# quill_install_cups_filter(<target>) installs the program <target> into the
# filter folder chosen as described above.
function(quill_install_cups_filter target)
  install(CODE "set(QUILL_CUPS_SERVERBIN \"${QUILL_CUPS_SERVERBIN}\")")
  install(CODE [[
    string(REGEX REPLACE "/+$" "" _quill_prefix "${CMAKE_INSTALL_PREFIX}")
    string(FIND "${QUILL_CUPS_SERVERBIN}/" "${_quill_prefix}/" _quill_at)
    if(_quill_at EQUAL 0)
      file(RELATIVE_PATH QUILL_FILTER_DIR "${_quill_prefix}/" "${QUILL_CUPS_SERVERBIN}/filter")
    else()
      set(QUILL_FILTER_DIR lib/cups/filter)
    endif()
  ]])
  install(TARGETS ${target} RUNTIME DESTINATION "\${QUILL_FILTER_DIR}")
endfunction()
