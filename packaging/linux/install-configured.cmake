# Runs at install time, so that the paths written into the desktop entry,
# the polkit policy and the launcher are those of the prefix actually
# installed to (cmake --install --prefix, or CPack's /usr), not the one
# configured. Expects TESSALY_TEMPLATES, TESSALY_BINDIR, TESSALY_DATADIR,
# PROJECT_VERSION and TESSALY_SCREENSHOT_URL.
set(TESSALY_PROGRAM "${CMAKE_INSTALL_PREFIX}/${TESSALY_BINDIR}/tessaly")
set(TESSALY_LAUNCHER "${CMAKE_INSTALL_PREFIX}/${TESSALY_BINDIR}/tessaly-admin")
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(tessaly_install_configured template destination)
    message(STATUS "Installing: ${root}/${destination}")
    configure_file("${TESSALY_TEMPLATES}/${template}" "${root}/${destination}" @ONLY ${ARGN})
endfunction()

tessaly_install_configured(org.tessaly.Tessaly.desktop.in ${TESSALY_DATADIR}/applications/org.tessaly.Tessaly.desktop)
tessaly_install_configured(org.tessaly.Tessaly.metainfo.xml.in ${TESSALY_DATADIR}/metainfo/org.tessaly.Tessaly.metainfo.xml)
tessaly_install_configured(org.tessaly.Tessaly.policy.in ${TESSALY_DATADIR}/polkit-1/actions/org.tessaly.Tessaly.policy)
tessaly_install_configured(tessaly-admin.in ${TESSALY_BINDIR}/tessaly-admin
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
