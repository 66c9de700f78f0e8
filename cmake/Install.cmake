# What `cmake --install` puts beside the two programs: the defaults, the menu entry, the icons, the
# manual pages, the service unit and the README. The programs find their defaults in ../share/qopra,
# so bin and share stay side by side under the prefix.
include(GNUInstallDirs)

set(QOPRA_INSTALL_BINDIR ${CMAKE_INSTALL_PREFIX}/bin)
set(QOPRA_INSTALL_DATADIR ${CMAKE_INSTALL_PREFIX}/share)
# systemd looks for system units in /usr/lib/systemd/system and /usr/local/lib/systemd/system.
set(QOPRA_UNIT_DESTINATION lib/systemd/system)
set(QOPRA_INSTALL_UNITDIR ${CMAKE_INSTALL_PREFIX}/${QOPRA_UNIT_DESTINATION})
set(QOPRA_VERSION ${PROJECT_VERSION})

install(DIRECTORY ${CMAKE_BINARY_DIR}/share/qopra DESTINATION share)

install(FILES ${CMAKE_SOURCE_DIR}/resources/qopra2.desktop DESTINATION share/applications)

set(icon_names qopra2 qopra2-tray qopra2-tray-arrival-1 qopra2-tray-arrival-2)
foreach(name IN LISTS icon_names)
    # The application icon is an "apps" icon; the tray's pictures show a state.
    set(context status)
    if(name STREQUAL "qopra2")
        set(context apps)
    endif()
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${name}.svg
            DESTINATION share/icons/hicolor/scalable/${context})
    set(sizes 16 22 32 48)
    if(name STREQUAL "qopra2")
        list(APPEND sizes 64 128 256)
    endif()
    foreach(size IN LISTS sizes)
        install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/${name}.png
                DESTINATION share/icons/hicolor/${size}x${size}/${context})
    endforeach()
endforeach()

# Manual pages carry the version and the installed paths, and are compressed as Debian ships them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(man_pages)
foreach(page qopra2.1 qopra-pad.1)
    configure_file(${CMAKE_SOURCE_DIR}/resources/man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
    add_custom_command(
        OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
        COMMAND ${GZIP_PROGRAM} -9 -n -f -k ${CMAKE_BINARY_DIR}/man/${page}
        DEPENDS ${CMAKE_BINARY_DIR}/man/${page}
        VERBATIM)
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(qopra_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

configure_file(${CMAKE_SOURCE_DIR}/resources/systemd/qopra.service.in ${CMAKE_BINARY_DIR}/systemd/qopra.service
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/systemd/qopra.service DESTINATION ${QOPRA_UNIT_DESTINATION})

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qopra)
