# The Debian package, built by CPack (scripts/package.sh). The version is the
# project's; the build number, which the updater compares, is set here alone.
set(OSKEL_BUILD_NUMBER 1 CACHE STRING "Build number of this release; the updater compares it")
if(NOT OSKEL_BUILD_NUMBER MATCHES "^[0-9]+$")
  message(FATAL_ERROR "OSKEL_BUILD_NUMBER must be a whole number, not '${OSKEL_BUILD_NUMBER}'")
endif()
set(OSKEL_VERSION ${PROJECT_VERSION})
# The build number is the Debian revision, so apt sees every build as newer.
set(OSKEL_DEB_VERSION ${OSKEL_VERSION}-${OSKEL_BUILD_NUMBER})

# The running version and build the updater compares against the feed.
if(TARGET OskelUpdate)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/OskelApp/services/update/UpdaterSettings.cpp
    TARGET_DIRECTORY OskelUpdate APPEND PROPERTY COMPILE_DEFINITIONS
    OSKEL_VERSION="${OSKEL_VERSION}" OSKEL_BUILD=${OSKEL_BUILD_NUMBER})
endif()

set(OSKEL_APP_ID com.brindlework.oskel)
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/packaging)

# Texts that carry the version, and their gzipped forms (gzip -9n: no name or
# time stamp, so the package is reproducible).
configure_file(${_pkg}/oskel.1 ${_gen}/oskel.1 @ONLY)
configure_file(${_pkg}/oskel-app.1 ${_gen}/oskel-app.1 @ONLY)
configure_file(${_pkg}/changelog.Debian.in ${_gen}/changelog.Debian @ONLY)
configure_file(${_pkg}/${OSKEL_APP_ID}.metainfo.xml.in ${_gen}/${OSKEL_APP_ID}.metainfo.xml @ONLY)
set(_gzipped)
foreach(text oskel.1 oskel-app.1 changelog.Debian)
  add_custom_command(OUTPUT ${_gen}/${text}.gz
    COMMAND gzip -9nc ${_gen}/${text} > ${_gen}/${text}.gz
    DEPENDS ${_gen}/${text} VERBATIM)
  list(APPEND _gzipped ${_gen}/${text}.gz)
endforeach()
add_custom_target(oskel_package_files ALL DEPENDS ${_gzipped})
# Everything the package holds; scripts/package.sh builds this target alone.
add_custom_target(oskel_package_contents)
add_dependencies(oskel_package_contents oskel oskel_package_files)
if(TARGET oskel-app)
  add_dependencies(oskel_package_contents oskel-app)
endif()

# Installing (and so CPack) builds only what is installed, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(GNUInstallDirs)
install(TARGETS oskel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The desktop application and its menu entry.
if(TARGET oskel-app)
  install(TARGETS oskel-app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_pkg}/${OSKEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${_gen}/oskel-app.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${_gen}/oskel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_gen}/changelog.Debian.gz ${_pkg}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/oskel)
# The package is not uploaded to Debian, so it has no Debian bug to close.
install(FILES ${_pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME oskel)
install(FILES ${_gen}/${OSKEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${_pkg}/${OSKEL_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oskel)
set(CPACK_PACKAGE_VERSION ${OSKEL_VERSION})
set(CPACK_PACKAGE_VENDOR Brindlework)
set(CPACK_PACKAGE_CONTACT "Brindlework <releases@brindlework.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live speech interpreter")
set(CPACK_PACKAGE_DESCRIPTION "Oskel translates speech live through a realtime speech-translation
service. In a call, what you say is translated into the other party's
language and played into a virtual microphone, and what they say is
translated into yours. The oskel program translates recordings, or a
microphone to a speaker on PulseAudio or PipeWire.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OSKEL_BUILD_NUMBER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://oskel.brindlework.com/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so shlibdeps cannot see them: an audio server for
# listen and devices, the CA store for the service's certificates.
# The Secret Service client library is loaded by QtKeychain at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
