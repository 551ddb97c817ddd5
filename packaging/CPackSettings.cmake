# The Debian package: cmake --build --preset release --target package (or cpack in the build
# folder) makes cradlecourier_VERSION_ARCH.deb from the install rules of packaging/.
# The libraries the programs link are found by dpkg-shlibdeps; the rest is declared here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cradlecourier)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # the version the programs say
set(CPACK_PACKAGE_VENDOR "The Cradlecourier project")
set(CPACK_PACKAGE_CONTACT "The Cradlecourier project <support@cradlecourier.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://cradlecourier.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer for Palm OS handhelds, without vendor software")
set(CPACK_PACKAGE_DESCRIPTION
    "Cradlecourier installs files onto Palm OS handhelds over a serial, USB or network
HotSync connection, speaking the HotSync protocol itself. Palm databases (.prc, .pdb,
.pqa) go over as they are, text files become DOC e-books, pictures become small viewer
applications, single-track MIDI files become system sounds, and CCA archives are unpacked
for the handheld they suit. It has a Qt window (ccourier) and a console front end
(ccourier-cli).")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The MIME database and icon folders the installed files go into; the desktop's helpers
# that open the guide and web links, and Wayland without XWayland, are recommended.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "shared-mime-info, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, desktop-file-utils, qt6-wayland")

include(CPack)
