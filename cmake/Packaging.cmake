# Where an installed program keeps its files, and the two Debian packages CPack makes from them
# (bash scripts/package.sh): dezadizi-cli holds the command-line tool, the simulator and the
# definitions, which need no desktop (a site PC scripting commissioning installs only it);
# dezadizi-config adds the window program and depends on it. The packages are described by these
# install rules alone, so the build and the packages cannot drift apart.
include(GNUInstallDirs)
set(DEZ_PACKAGE_MAINTAINER "Roduzede Support <support@roduzede.example>"
    CACHE STRING "Maintainer of the Debian package (control file and changelog)")
install(TARGETS dezadizi-config RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(TARGETS dezadizi-cli dezadizi-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# Found through the XDG data folders when there is none next to the program.
install(FILES data/Devices.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/dezadizi COMPONENT tools)
install(FILES data/dezadizi-cli.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/dezadizi COMPONENT tools)
install(FILES data/dezadizi-config.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
install(FILES data/dezadizi-config.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT window)
install(FILES packaging/dezadizi-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dezadizi-cli COMPONENT tools)
# Each package carries its own copyright, notes and changelog, as Debian asks.
set(DEZ_PACKAGE_COMPONENTS window tools)
set(DEZ_PACKAGE_NAMES dezadizi-config dezadizi-cli)
function(dez_install_doc file)
  foreach(component package IN ZIP_LISTS DEZ_PACKAGE_COMPONENTS DEZ_PACKAGE_NAMES)
    install(FILES ${file} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endfunction()
dez_install_doc(packaging/copyright)
dez_install_doc(packaging/README.Debian)

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
  dez_install_doc(${CMAKE_BINARY_DIR}/doc/changelog.gz)
endif()
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  set(DEZ_MAN_PAGES dezadizi-config dezadizi-cli dezadizi-sim)
  set(DEZ_MAN_COMPONENTS window tools tools)
  foreach(page component IN ZIP_LISTS DEZ_MAN_PAGES DEZ_MAN_COMPONENTS)
    set(source ${CMAKE_SOURCE_DIR}/doc/man/${page}.1.scd)
    set(output ${CMAKE_BINARY_DIR}/doc/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
                       COMMAND sh -c "'${SCDOC_PROGRAM}' < '${source}' | '${GZIP_PROGRAM}' -9n > '${output}'"
                       DEPENDS ${source} VERBATIM)
    list(APPEND DEZ_DOC_OUTPUTS ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
else()
  message(STATUS "scdoc or gzip not found: the man pages are neither built nor installed")
endif()
add_custom_target(docs ALL DEPENDS ${DEZ_DOC_OUTPUTS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window tools)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME dezadizi-config)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME dezadizi-cli)
# The window reads the definitions the tools package installs.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "dezadizi-cli (= ${PROJECT_VERSION})")
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

This package holds the window program (dezadizi-config); the command-line tool,
the simulator and the definitions come with dezadizi-cli.")
# Each package's description is its summary line and its long text, in one variable; without
# IGNORE CPack would put the common summary above each.
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY IGNORE)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "command-line tool and unit simulator for Dezadizi (Z7E) interface units
The command-line side of the configuration manager for the Dezadizi (Z7E)
building-management interface unit, without a desktop: dezadizi-cli reads,
writes, compares and checks settings and commissions whole sites over Modbus
RTU; dezadizi-sim simulates units on a pseudo-terminal; the bundled device
definitions (Devices.xml) are shared with the window program.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DEZ_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies as dpkg-shlibdeps finds them in the programs, not a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
