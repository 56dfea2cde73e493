# pellix_subsystem(NAME DIRS dir... [DEPS layer...])
# One static library per layer, made of every .cpp below its folders; headers
# sit beside their sources and are included as "Folder/Header.h" from src/.
function(pellix_subsystem name)
  cmake_parse_arguments(A "" "" "DIRS;DEPS" ${ARGN})
  set(srcs)
  foreach(d IN LISTS A_DIRS)
    file(GLOB_RECURSE s CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${d}/*.cpp ${CMAKE_SOURCE_DIR}/${d}/*.c)
    list(APPEND srcs ${s})
  endforeach()
  set(t pellix_${name})
  if(srcs)
    add_library(${t} STATIC ${srcs})
    set(scope PUBLIC)
  else()
    add_library(${t} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${t} ${scope} $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src> $<INSTALL_INTERFACE:include/pellix>)
  target_compile_definitions(${t} ${scope} PELLIX_VERSION="${PROJECT_VERSION}")
  # The public headers are C++20: a consumer gets the standard with the
  # targets rather than errors inside them.
  target_compile_features(${t} ${scope} cxx_std_20)
  foreach(dep IN LISTS A_DEPS)
    target_link_libraries(${t} ${scope} pellix_${dep})
  endforeach()
  if(name STREQUAL "platform")
    target_link_libraries(${t} ${scope} Threads::Threads OpenSSL::SSL OpenSSL::Crypto CURL::libcurl
      EXPAT::EXPAT SQLite::SQLite3 PNG::PNG JPEG::JPEG GIF::GIF ICU::uc ICU::i18n
      nlohmann_json::nlohmann_json PkgConfig::PLIST SDBusCpp::sdbus-c++
      # Tone playback (AudioPlayer) uses the same media stack as calls.
      PkgConfig::GST)
  elseif(name STREQUAL "SipEngineSDK")
    target_link_libraries(${t} ${scope} PkgConfig::SOFIA PkgConfig::GST)
    # Whatever links sofia loads its exit destructor: SofiaThreadKey.cpp must
    # come along even where nothing else of the engine is used.
    target_link_options(${t} INTERFACE "LINKER:--undefined=pellix_sofia_takes_its_thread_key")
  endif()
  set_property(GLOBAL APPEND PROPERTY PELLIX_LAYERS ${t})
endfunction()

# pellix_test(NAME DIR [LIBS lib...])
# One test program per folder of tests/, each test run as its own process so
# singletons start fresh. A test that its parent test runs again in a child
# process (a fresh process, a private network namespace) skips when run on
# its own; it is named for that, with a suite ending in "Child" or a name
# beginning with "Child", and is left out of ctest, so that a skip there
# always means something is missing.
function(pellix_test name dir)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE pellix pellix_test_support GTest::gtest GTest::gmock ${A_LIBS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "${name}." TEST_FILTER "-*Child.*:*.Child*"
    PROPERTIES ENVIRONMENT "PELLIX_SOURCE_DIR=${CMAKE_SOURCE_DIR};PELLIX_BUILD_DIR=${CMAKE_BINARY_DIR}"
               TIMEOUT 600)
endfunction()
