# make package: a Debian package of what cmake --install puts in place,
# installed under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Morvane developers")
set(CPACK_PACKAGE_CONTACT "The Morvane developers <developers@morvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut a time range out of a DVD video file")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Morvane plays a DVD video object file (.vob), lets you mark a start and an "
  "end while you watch, plays just the marked range, and saves it as a new "
  "file. The clip is a straight copy of the matching bytes of the source, "
  "never re-encoded. The command-line tool morvane-cut makes the same cut "
  "without the window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # morvane_1.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://morvane.example/)
# The libraries come from the binaries (dpkg-shlibdeps, from dpkg-dev); the
# GStreamer plug-ins are loaded at run time, so no binary names them: MPEG-2
# demuxing and decoding, and -good's splitfilesrc for whole DVD titles.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
string(CONCAT CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, "
  "gstreamer1.0-plugins-ugly, gstreamer1.0-libav")

include(CPack)
