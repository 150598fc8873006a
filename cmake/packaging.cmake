# What `cmake --install` puts where, and the packages CPack makes of it: a .deb on Linux, a
# .zip on Windows. Included at the end of the top-level CMakeLists, once every target exists.
include(GNUInstallDirs)

if(WIN32)
  # The .zip is a folder to unpack and run from: the program and its README side by side.
  if(TARGET tovalisk)
    install(TARGETS tovalisk RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  foreach(program tovalisk tovalisk-scan)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/res/tovalisk.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 64 128)
    install(FILES ${TOVALISK_ICON_DIR}/tovalisk-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tovalisk.png)
  endforeach()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME tovalisk)
set(CPACK_PACKAGE_VENDOR "Tovalisk developers")
set(CPACK_PACKAGE_CONTACT "Tovalisk developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Real-time frequency and level meter for the sound input")
set(CPACK_PACKAGE_DESCRIPTION
    "Tovalisk listens to the default sound input, measures the fundamental frequency\n\
and the peak-to-peak level of the signal, shows the latest values as text and\n\
draws their history as a scrolling chart. tovalisk-scan runs the same\n\
measurement over sound files and prints it as CSV.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries the programs link (SDL2, FreeType, fontconfig, libsndfile, libsamplerate, the
# C++ runtime) are found by dpkg-shlibdeps. The panel's font face is worth having, but the
# text falls back to a monospace face without it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic")

include(CPack)
