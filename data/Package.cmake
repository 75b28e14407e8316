# The Debian package: `cpack -G DEB` in the build folder lays the installed
# tree under /usr and packs it. Depends are what dpkg-shlibdeps finds the
# programs and the window plug-in linked against (GTK, WebKitGTK, libsoup,
# ICU, GLib), plus libcurl, which `vesko` loads only when it first makes a
# request and so is not among its linked libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesko)
set(CPACK_PACKAGE_VENDOR "The Vesko developers")
set(CPACK_PACKAGE_CONTACT "The Vesko developers <developers@vesko.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Pull articles out of browser tabs into a local library")
set(CPACK_PACKAGE_DESCRIPTION "Vesko takes the raw material of web articles (address, title,
publication, date, header lines and cleaned text) out of the tabs of a
Chromium-family browser or Firefox and keeps them in a library shown in its
one window. Ctrl+Shift+F fetches the current tab from any application.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vesko.app/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.88)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | firefox-esr")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-desktop-portal")
# The Chromium host manifest is the package's one file under /etc.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "/etc/chromium/native-messaging-hosts/vesko.extension.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
include(CPack)
