# The desktop's view of the app: a desktop entry (launcher, file types, the two quick actions)
# and the icon theme's pictures, rendered at build time from the icon the app draws.
include(GNUInstallDirs)

set(VESK_ICON_SIZES 16 22 24 32 48 64 128 256 512)
set(VESK_DESKTOP_DIR ${CMAKE_BINARY_DIR}/desktop)
set(VESK_ICON_DIR ${VESK_DESKTOP_DIR}/icons/hicolor)

add_executable(vesk_icon_renderer ${CMAKE_CURRENT_LIST_DIR}/RenderAppIcon.cpp)
target_link_libraries(vesk_icon_renderer PRIVATE vesk_assets)
set(icons)
foreach(size ${VESK_ICON_SIZES})
    list(APPEND icons ${VESK_ICON_DIR}/${size}x${size}/apps/vesk.png)
endforeach()
add_custom_command(OUTPUT ${icons}
    # The renderer's own allocations are not the app's: no leak report at its exit.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:vesk_icon_renderer> ${VESK_ICON_DIR} ${VESK_ICON_SIZES}
    DEPENDS vesk_icon_renderer
    COMMENT "Rendering the app icon for the desktop")
add_custom_target(vesk_desktop_icons ALL DEPENDS ${icons})

# The entry of the build tree names the program as "vesk" (found on PATH); the installed one
# names the installed program by its full path.
set(VESK_TRY_EXEC vesk)
set(VESK_EXEC vesk)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vesk.desktop.in ${VESK_DESKTOP_DIR}/vesk.desktop @ONLY)

install(TARGETS vesk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program finds its bundle in ../share/vesk beside its own folder.
install(DIRECTORY ${VESK_BUNDLE_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vesk)
install(DIRECTORY ${VESK_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(CODE "set(VESK_DESKTOP_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/vesk.desktop.in\")
set(VESK_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(VESK_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallDesktopEntry.cmake)
