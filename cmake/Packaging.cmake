# Where an installed program keeps its files, and the Debian package CPack makes from them
# (bash scripts/package.sh). The package is described by these install rules alone, so the
# build and the package cannot drift apart.
include(GNUInstallDirs)
set(DEZ_PACKAGE_MAINTAINER "Roduzede Support <support@roduzede.example>"
    CACHE STRING "Maintainer of the Debian package (control file and changelog)")
install(TARGETS dezadizi-config dezadizi-cli dezadizi-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Found through the XDG data folders when there is none next to the program.
install(FILES data/Devices.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/dezadizi)
install(FILES data/dezadizi-config.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/dezadizi-config.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/dezadizi-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dezadizi-cli)
set(DEZ_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
install(FILES packaging/copyright packaging/README.Debian DESTINATION ${DEZ_DOC_DIR})

# Man pages (written once, in scdoc) and the changelog, compressed the way Debian wants them:
# gzip -9n keeps no name and no time, so the same sources give the same bytes.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
set(DEZ_DOC_OUTPUTS)
if(GZIP_PROGRAM)
  configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                     COMMAND ${GZIP_PROGRAM} -9nkf ${CMAKE_BINARY_DIR}/doc/changelog
                     DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
  list(APPEND DEZ_DOC_OUTPUTS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${DEZ_DOC_DIR})
endif()
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  foreach(page dezadizi-config dezadizi-cli dezadizi-sim)
    set(source ${CMAKE_SOURCE_DIR}/doc/man/${page}.1.scd)
    set(output ${CMAKE_BINARY_DIR}/doc/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
                       COMMAND sh -c "'${SCDOC_PROGRAM}' < '${source}' | '${GZIP_PROGRAM}' -9n > '${output}'"
                       DEPENDS ${source} VERBATIM)
    list(APPEND DEZ_DOC_OUTPUTS ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "scdoc or gzip not found: the man pages are neither built nor installed")
endif()
add_custom_target(docs ALL DEPENDS ${DEZ_DOC_OUTPUTS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration manager for Dezadizi (Z7E) interface units")
# Lines of at most 80 characters; CPack indents them and marks the empty one.
set(CPACK_PACKAGE_DESCRIPTION
    "A service engineer's tool for the Dezadizi (Z7E) building-management
interface unit: it finds the unit on a serial port over Modbus RTU, reads its
whole configuration, shows it as named and validated settings, writes it back,
and saves, loads and exports settings files. Without a unit it edits a device
type's factory defaults.

The package holds the window program (dezadizi-config), a command-line tool for
scripted commissioning (dezadizi-cli) and a simulated unit on a pseudo-terminal
(dezadizi-sim).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DEZ_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies as dpkg-shlibdeps finds them in the programs, not a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
