# Writes the desktop entry for the prefix being installed to (cmake --install --prefix counts).
set(program "${CMAKE_INSTALL_PREFIX}/${VESK_INSTALL_BINDIR}/vesk")
# Exec quoting: a path with reserved characters goes in double quotes, with ", `, $ and \
# escaped; the value's own string escaping then doubles every backslash.
set(exec "${program}")
if(exec MATCHES "[] \t\"'\\\\><~|&;$*?#()`[]")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    set(exec "\"${exec}\"")
endif()
string(REPLACE "\\" "\\\\" VESK_EXEC "${exec}")
string(REPLACE "\\" "\\\\" VESK_TRY_EXEC "${program}")
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${VESK_INSTALL_DATADIR}/applications/vesk.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${VESK_DESKTOP_TEMPLATE}" "${entry}" @ONLY)

# Other programs find the app for a file type through the folder's index; packagers (DESTDIR)
# leave that to the system's own triggers.
find_program(VESK_UPDATE_DESKTOP_DATABASE update-desktop-database)
if(VESK_UPDATE_DESKTOP_DATABASE AND "$ENV{DESTDIR}" STREQUAL "")
    execute_process(COMMAND "${VESK_UPDATE_DESKTOP_DATABASE}" -q "${CMAKE_INSTALL_PREFIX}/${VESK_INSTALL_DATADIR}/applications")
endif()
