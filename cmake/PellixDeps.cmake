# Third-party libraries the platform layer stands on. Only src/platform links
# most of them; the layers above reach the operating system through it.
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(EXPAT REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(GIF REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
# D-Bus: the Wi-Fi network's name (NetworkManager) and the BLE peripheral (BlueZ).
find_package(sdbus-c++ 1.2 REQUIRED)
# The SIP engine: sofia-sip for signalling, GStreamer for RTP media.
pkg_check_modules(SOFIA REQUIRED IMPORTED_TARGET sofia-sip-ua)
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0 gstreamer-rtp-1.0 gstreamer-net-1.0 gio-2.0
  gstreamer-audio-1.0 gstreamer-video-1.0)
