# Where `cmake --install` and the package put things, relative to the prefix. Every folder
# is relative so that the installed tree can be moved or unpacked anywhere: dmsim finds the
# plug-in and the stand-ins from its own location.
#
#   bin/dmsim
#   lib/<multiarch>/diag-extensions/libdiag_plugin.so, libcom_runtime.so, libara_log.so
#   share/dmsim/vehicle.json             the example vehicle profile
#   share/man/man1/dmsim.1
#   share/doc/diag-extensions/README.md
include(GNUInstallDirs)

if(CMAKE_LIBRARY_ARCHITECTURE)
    set(diag_default_plugindir lib/${CMAKE_LIBRARY_ARCHITECTURE}/diag-extensions)
else()
    set(diag_default_plugindir ${CMAKE_INSTALL_LIBDIR}/diag-extensions)
endif()
set(DIAG_INSTALL_PLUGINDIR ${diag_default_plugindir} CACHE STRING
    "Folder of the plug-in and the platform stand-ins, relative to the prefix")
set(DIAG_INSTALL_DATADIR ${CMAKE_INSTALL_DATAROOTDIR}/dmsim CACHE STRING
    "Folder of the example vehicle profile, relative to the prefix")
set(DIAG_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/diag-extensions CACHE STRING
    "Folder of the README, relative to the prefix")

foreach(dir CMAKE_INSTALL_BINDIR DIAG_INSTALL_PLUGINDIR DIAG_INSTALL_DATADIR
            DIAG_INSTALL_DOCDIR CMAKE_INSTALL_MANDIR)
    if(IS_ABSOLUTE "${${dir}}")
        message(FATAL_ERROR "${dir} (${${dir}}) must be relative to the prefix: "
                            "the installed tree finds its parts relative to itself")
    endif()
endforeach()

# The plug-in folder as seen from dmsim's folder, for its RUNPATH and default plug-in path.
file(RELATIVE_PATH DIAG_BIN_TO_PLUGINDIR /${CMAKE_INSTALL_BINDIR} /${DIAG_INSTALL_PLUGINDIR})
