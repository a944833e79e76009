# Packages made by `cpack` in the build folder: a .deb with computed dependencies and a .tar.gz
# on Linux, a disk image holding the app bundle on macOS.
set(CPACK_PACKAGE_NAME ashenmarch-launcher)
set(CPACK_PACKAGE_VENDOR "Ashenmarch Studio")
set(CPACK_PACKAGE_CONTACT "Ashenmarch Studio <launcher@ashenmarch.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://ashenmarch.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher that keeps the game Ashenmarch up to date")
# Line breaks are kept: the .deb shows the text as written.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "The launcher asks the studio's release host whether a newer build of Ashenmarch"
    "exists, downloads and unpacks it with a progress bar, shows the changelog and"
    "starts the game. A failed update leaves the installed build playable."
    "With --cli it runs the same chain without a window and prints a line report"
    "that ends in PASS or FAIL.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Ashenmarch Launcher")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(APPLE)
    set(CPACK_GENERATOR DragNDrop)
    set(CPACK_DMG_VOLUME_NAME "Ashenmarch Launcher")
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION games)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Qt loads its display back-ends as plugins at run time, so no linked library names them;
    # without one the window cannot open.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
    # The release host is https, and libcurl verifies it against the system's certificates.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ca-certificates)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
