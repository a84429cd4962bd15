# SPDX-License-Identifier: GPL-3.0-or-later
# Runs at install time, so that the path written into the polkit policy is
# that of the prefix actually installed to (cmake --install --prefix, or
# CPack's /usr), not the one configured. Expects TESSALY_TEMPLATES,
# TESSALY_POLICY_TEMPLATE (the save helper's polkit policy, kept beside the
# helper), TESSALY_LIBEXECDIR, TESSALY_DATADIR and PROJECT_VERSION.
set(TESSALY_SAVE_HELPER "${CMAKE_INSTALL_PREFIX}/${TESSALY_LIBEXECDIR}/tessaly/tessaly-save-helper")
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(tessaly_install_configured template destination)
    message(STATUS "Installing: ${root}/${destination}")
    configure_file("${template}" "${root}/${destination}" @ONLY ${ARGN})
endfunction()

tessaly_install_configured(${TESSALY_TEMPLATES}/org.tessaly.Tessaly.desktop.in ${TESSALY_DATADIR}/applications/org.tessaly.Tessaly.desktop)
tessaly_install_configured(${TESSALY_TEMPLATES}/org.tessaly.Tessaly.metainfo.xml.in ${TESSALY_DATADIR}/metainfo/org.tessaly.Tessaly.metainfo.xml)
tessaly_install_configured(${TESSALY_POLICY_TEMPLATE} ${TESSALY_DATADIR}/polkit-1/actions/org.tessaly.Tessaly.policy)
