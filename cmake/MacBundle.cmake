# The launcher as a macOS application bundle: Info.plist from the template, and the icon and the
# optional banner picture in Contents/Resources.
set(am_bundle_resources ${PROJECT_SOURCE_DIR}/packaging/macos/ashenmarch-launcher.icns)
set(am_banner ${PROJECT_SOURCE_DIR}/src/ui/banner.png)
if(EXISTS ${am_banner})
    list(APPEND am_bundle_resources ${am_banner})
endif()
target_sources(ashenmarch-launcher PRIVATE ${am_bundle_resources})
set_source_files_properties(${am_bundle_resources} TARGET_DIRECTORY ashenmarch-launcher
    PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

set_target_properties(ashenmarch-launcher PROPERTIES
    MACOSX_BUNDLE TRUE
    MACOSX_BUNDLE_INFO_PLIST ${PROJECT_SOURCE_DIR}/packaging/macos/Info.plist.in
    MACOSX_BUNDLE_BUNDLE_NAME "Ashenmarch Launcher"
    MACOSX_BUNDLE_GUI_IDENTIFIER ${ASHENMARCH_APP_ID}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
    MACOSX_BUNDLE_ICON_FILE ashenmarch-launcher.icns
    MACOSX_BUNDLE_COPYRIGHT "© Ashenmarch Studio")
