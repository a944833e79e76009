# What `cmake --install` puts where. On Linux: the executable and the desktop integration (menu
# entry, hicolor icons, AppStream metadata, manual page) in the freedesktop layout. On macOS: the
# application bundle with Qt and the other libraries copied into it.
include(GNUInstallDirs)

install(TARGETS ashenmarch-launcher
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    BUNDLE DESTINATION .)
# The studio's publishing tool ships beside the launcher.
install(TARGETS ashenmarch-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(am_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)

if(UNIX AND NOT APPLE)
    install(FILES ${am_packaging_dir}/ashenmarch-launcher.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    # The PNGs and the SVG are drawn by packaging/icons/make-icons.py and committed.
    install(DIRECTORY ${am_packaging_dir}/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
    install(FILES ${am_packaging_dir}/${ASHENMARCH_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${am_packaging_dir}/ashenmarch-launcher.6
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
endif()

if(APPLE)
    # macdeployqt copies Qt, its platform plugin and the non-system libraries into the bundle.
    if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
        qt_generate_deploy_app_script(TARGET ashenmarch-launcher OUTPUT_SCRIPT am_deploy_script)
    else()
        qt_generate_deploy_app_script(TARGET ashenmarch-launcher FILENAME_VARIABLE am_deploy_script)
    endif()
    install(SCRIPT ${am_deploy_script})
    # Rewriting the libraries' load paths breaks their signatures, and Apple silicon refuses to
    # run unsigned code: sign the finished bundle ad hoc (a release signs it again with the
    # studio's identity).
    install(CODE "execute_process(COMMAND codesign --force --deep --sign -
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_BUNDLE_DIR_NAME:ashenmarch-launcher>\"
        COMMAND_ERROR_IS_FATAL ANY)")
endif()
