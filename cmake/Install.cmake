# Installs like a Linux desktop program: the program, the command-line tool (with its manual
# page) and the simulated board in bin, the desktop entry, the AppStream metainfo and the icon
# where desktops look for them. An installed program keeps its settings in the user's
# configuration folder (its own is not writable).
include(GNUInstallDirs)

set(KVX_APP_ID org.kvx310.EvalKit)
install(TARGETS Eval310 kvx310 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The command-line tool's manual page, compressed as Debian installs manual pages.
find_program(KVX_GZIP gzip)
if(KVX_GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/kvx310.1.gz
                       COMMAND ${KVX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/kvx310.1
                               > ${PROJECT_BINARY_DIR}/kvx310.1.gz
                       DEPENDS ${PROJECT_SOURCE_DIR}/packaging/kvx310.1 VERBATIM)
    add_custom_target(kvx310_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/kvx310.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/kvx310.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/kvx310.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET kvx310-sim)
    install(TARGETS kvx310-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${KVX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The release named in the metainfo and the changelog is the project's version, dated by the
# build (SOURCE_DATE_EPOCH, where set, makes that date reproducible).
string(TIMESTAMP KVX_BUILD_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP KVX_BUILD_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${KVX_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${KVX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${KVX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${KVX_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# What Debian wants of every package: the copyright and a compressed changelog, in the
# package's own documentation folder.
set(KVX_PACKAGE_NAME kvx310-evalkit)
set(KVX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KVX_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${KVX_DOC_DIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
if(KVX_GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                       COMMAND ${KVX_GZIP} -9nc ${PROJECT_BINARY_DIR}/changelog
                               > ${PROJECT_BINARY_DIR}/changelog.gz
                       DEPENDS ${PROJECT_BINARY_DIR}/changelog VERBATIM)
    add_custom_target(kvx310_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${KVX_DOC_DIR})
else()
    install(FILES ${PROJECT_BINARY_DIR}/changelog DESTINATION ${KVX_DOC_DIR})
endif()

# Everything the rules above install that the build makes, without the tests and benchmarks:
# what scripts/run builds, so that the README's install step can follow it.
add_custom_target(programs)
foreach(part Eval310 kvx310 kvx310-sim kvx310_manual kvx310_changelog)
    if(TARGET ${part})
        add_dependencies(programs ${part})
    endif()
endforeach()

# cpack -G DEB: the libraries the programs link are found by dpkg-shlibdeps; Qt's platform
# plugins (the window system) and the fonts the windows are laid out for are named.
set(CPACK_PACKAGE_NAME ${KVX_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "KVX310 Evaluation Kit developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Front end of the KVX310 stepper motor evaluation kit")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVX310 Evaluation Kit developers <kvx310-evalkit@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-liberation2")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The package's programs are stripped: users get a few megabytes instead of twenty. Their debug
# information goes apart, into the -dbgsym .ddeb beside the package, for whoever reads a crash.
# (CPACK_STRIP_FILES would strip it before it could be kept.)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
