# Debian package of the installed program: cpack -G DEB (from the build tree).
set(CPACK_PACKAGE_NAME tarvo2)
set(CPACK_PACKAGE_VENDOR "VEKOR")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "VEKOR <tarvo2@vekor.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tarvo2 watches the microphone level and the mouse pointer of a computer\n\
left unattended and plays a run of alarm sounds when someone is at the\n\
machine. Every arming, disarming and trigger is written to a report.")
# Library dependencies come from dpkg-shlibdeps; Qt's platform plugins, SDL
# and the decoders (sound) and libcurl (for e-mail alerts) are loaded at run
# time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libsdl2-2.0-0 (>= 2.0.18), libsndfile1, libsamplerate0, libmpg123-0, libcurl4")
# GStreamer is loaded when a photo is taken, and its elements are plugins
# (videoconvert and appsink, pipewiresrc, v4l2src); photos are optional, so
# all of it is recommended; so is Qt's Wayland platform plugin (on X11 and
# XWayland the program runs without it).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libgstreamer1.0-0, libgstreamer-plugins-base1.0-0, gstreamer1.0-plugins-base, \
gstreamer1.0-pipewire, gstreamer1.0-plugins-good, qt6-wayland")
include(CPack)
