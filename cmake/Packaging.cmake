# Install rules and the Debian package. What a user of the plug-in or of dmsim needs, and
# nothing else: the plug-in, the platform stand-ins that dmsim and the plug-in load, dmsim,
# its man page, the example vehicle profile and the README (folders: cmake/InstallDirs.cmake).
#
#   cmake --install build/default --prefix /tmp/diag
#   cd build/default && cpack -G DEB         # diag-extensions_<version>_<arch>.deb
#
# The tree is relocatable: dmsim's RUNPATH and its default plug-in path are relative to the
# binary, and the libraries find each other beside themselves.

# The stand-ins go beside the plug-in: they are private to this package, not system libraries.
install(TARGETS diag_plugin com_runtime ara_log
        LIBRARY DESTINATION ${DIAG_INSTALL_PLUGINDIR})
set_target_properties(diag_plugin com_runtime ara_log PROPERTIES INSTALL_RPATH "$ORIGIN")

if(TARGET dmsim)
    set_target_properties(dmsim PROPERTIES INSTALL_RPATH "$ORIGIN/${DIAG_BIN_TO_PLUGINDIR}")
    install(TARGETS dmsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/sim/profiles/vehicle.json ${dmsim_schema}
            DESTINATION ${DIAG_INSTALL_DATADIR})

    # The man page is dmsim's own help text, made at build time (under qemu-user when
    # cross-compiling).
    set(diag_man_page ${PROJECT_BINARY_DIR}/man/dmsim.1)
    string(REPLACE ";" "|" diag_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
    add_custom_command(
        OUTPUT ${diag_man_page}
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:dmsim> "-DEMULATOR=${diag_emulator}"
                -DSECTION=1 -DOUTPUT=${diag_man_page} -P ${PROJECT_SOURCE_DIR}/cmake/HelpToMan.cmake
        DEPENDS dmsim ${PROJECT_SOURCE_DIR}/cmake/HelpToMan.cmake
        COMMENT "Writing the man page dmsim.1 from dmsim --help"
        VERBATIM)
    add_custom_target(dmsim_man ALL DEPENDS ${diag_man_page})
    install(FILES ${diag_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${DIAG_INSTALL_DOCDIR})

# The Debian package, made from the same rules. Its architecture is the target's, not the
# build machine's, so that the cross build gives an arm64 package.
set(CPACK_PACKAGE_NAME diag-extensions)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Diagnostic extensions plug-in and the dmsim diagnostic manager simulator")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The plug-in that serves 83 data identifiers and 26 routines of the diagnostic manager\n"
    "through the platform's service communication, with stand-ins of the communication\n"
    "runtime and the log, and dmsim, which loads the plug-in and answers UDS requests\n"
    "against a simulated vehicle.")
set(CPACK_PACKAGE_CONTACT "Diagnostic extensions developers <diag-extensions@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    else()
        message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
    endif()
endif()
include(CPack)
