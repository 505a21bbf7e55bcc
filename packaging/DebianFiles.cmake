# What Debian expects beside the program: the copyright file, and the changelog and the manual page
# gzipped (-n: no name or time stamp inside, so the same sources give the same bytes). The version
# has no Debian revision, so the package counts as native: its changelog is changelog.gz, not
# changelog.Debian.gz.
set(VEXA_VERSION ${PROJECT_VERSION})
set(VEXA_DEB_OUT ${PROJECT_BINARY_DIR}/packaging)
foreach(strName changelog vexaprinter.1)
  configure_file(${VEXA_PKG}/deb/${strName} ${VEXA_DEB_OUT}/${strName} @ONLY)
  execute_process(COMMAND gzip -9nf ${VEXA_DEB_OUT}/${strName} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${VEXA_PKG}/deb/copyright ${VEXA_DEB_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexaprinter)
install(FILES ${VEXA_DEB_OUT}/vexaprinter.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
