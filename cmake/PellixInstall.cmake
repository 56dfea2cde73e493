# `cmake --install`: the layers' static libraries, the public headers under
# include/pellix/ (included as "platform/Value.h", "PellixClient/..." with
# -I<prefix>/include/pellix), a CMake package (find_package(Pellix), target
# Pellix::pellix) and a pkg-config file (pellix.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The archives of an instrumented build (sanitizers, coverage) call into
# their runtime, so a consumer must link it: the package and the .pc file
# carry the link flag.
set(PELLIX_INSTRUMENT_LINK_FLAGS)
if(PELLIX_SANITIZE)
  list(APPEND PELLIX_INSTRUMENT_LINK_FLAGS -fsanitize=${PELLIX_SANITIZE})
endif()
if(CMAKE_CXX_FLAGS MATCHES "--coverage|-fprofile-arcs")
  list(APPEND PELLIX_INSTRUMENT_LINK_FLAGS --coverage)
endif()
foreach(f IN LISTS PELLIX_INSTRUMENT_LINK_FLAGS)
  string(REPLACE "," "$<COMMA>" _f "${f}")
  target_link_options(pellix INTERFACE $<INSTALL_INTERFACE:${_f}>)
endforeach()
list(JOIN PELLIX_INSTRUMENT_LINK_FLAGS " " PELLIX_PC_LINK_FLAGS)

# The ring tones' bundle installed with the library; the tone player looks
# there when the host's resource folder has none.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/PellixAudioPlayer/PellixAudioPlayer.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS PELLIX_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/pellix")

get_property(_layers GLOBAL PROPERTY PELLIX_LAYERS)
install(TARGETS ${_layers} pellix EXPORT PellixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Public headers only. A header is private, and stays out of the install,
# when its name ends in "Private.h" or it is one of the platform's own
# internals listed here; no installed header may include a private one (the
# install test checks it).
set(PELLIX_PRIVATE_HEADERS
  platform/TimerScheduler.h
  platform/URLSessionCallbackChannel.h
  platform/URLSessionEngine.h
  platform/URLSessionTransfer.h
  platform/WorkerPool.h
  platform/X509DER.h)
set(_private_patterns PATTERN "*Private.h" EXCLUDE)
foreach(h IN LISTS PELLIX_PRIVATE_HEADERS)
  string(REPLACE "." "\\." _re "${h}")
  list(APPEND _private_patterns REGEX "/${_re}$" EXCLUDE)
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pellix
        FILES_MATCHING PATTERN "*.h" ${_private_patterns})
# The SDK's resource bundle (its tones). The tone player finds it here, or
# a host copies it beside its own resources (platform::Bundle's main bundle).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/PellixSDK.bundle
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pellix)
install(EXPORT PellixTargets NAMESPACE Pellix:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellix)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/PellixConfig.cmake.in
  ${CMAKE_BINARY_DIR}/PellixConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellix)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/PellixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/PellixConfig.cmake ${CMAKE_BINARY_DIR}/PellixConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellix)

# Layers in link order for pkg-config: the SDK first, the platform last.
set(PELLIX_PC_LIBS)
foreach(l pellix_sdk pellix_SipEngineSDK pellix_HOSSDK pellix_TVNetworking pellix_MQTTClient pellix_BWSocket pellix_platform)
  get_target_property(_type ${l} TYPE)
  if(_type STREQUAL "STATIC_LIBRARY")
    string(APPEND PELLIX_PC_LIBS " -l${l}")
  endif()
endforeach()
# The .pc file finds its prefix from where it lies (${pcfiledir}), so it
# holds for whatever prefix `cmake --install --prefix` is given, and for a
# tree moved after installing.
file(RELATIVE_PATH PELLIX_PC_PREFIX_FROM_PCFILEDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/pellix.pc.in ${CMAKE_BINARY_DIR}/pellix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pellix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
