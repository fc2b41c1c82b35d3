# `cpack -G DEB` in the build tree makes kova-connect_<version>_<arch>.deb from what
# `cmake --install` puts in place. Its dependencies are worked out by dpkg-shlibdeps from the
# libraries the programs link, so they follow whatever the build found.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kova-connect)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KOVA")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play the desktop's audio on a phone's speaker over USB")
set(CPACK_PACKAGE_DESCRIPTION
    "KOVA Connect streams what is played into the KOVA audio device (a PulseAudio or PipeWire\n"
    "null sink) to the KOVA app on a phone connected by USB: Android phones through accessory\n"
    "mode, iPhones and iPads through usbmuxd. It contains the tray application kova-connect,\n"
    "the command-line tool kova, the phone emulator kova-phone, the library libkova and udev\n"
    "rules that let the user at the seat open Android phones.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KOVA Connect developers <kova@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libkova.so.1 is in the package itself; dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/core)
# A sound server is needed for the KOVA device and usbmuxd for iPhones, but neither is linked.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, pulseaudio-utils, usbmuxd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/deb/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/postrm
    ${PROJECT_SOURCE_DIR}/cmake/deb/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The build tree keeps its debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)
include(CPack)
