# What the Windows build takes from Debian's packages without Linux's include folder on its
# search path: copies of the libpcap headers (the public API; wpcap.dll itself is loaded at run
# time, nothing links against it) and of CLI11 (header-only), and GoogleTest built from the
# sources Debian ships.
set(SKAV_WINDOWS_HEADERS ${CMAKE_BINARY_DIR}/debian-headers)
file(COPY /usr/include/pcap DESTINATION ${SKAV_WINDOWS_HEADERS})
file(COPY /usr/include/CLI DESTINATION ${SKAV_WINDOWS_HEADERS})

add_library(skav_pcap_headers INTERFACE)
target_include_directories(skav_pcap_headers SYSTEM INTERFACE ${SKAV_WINDOWS_HEADERS})

add_library(skav_cli11 INTERFACE)
target_include_directories(skav_cli11 SYSTEM INTERFACE ${SKAV_WINDOWS_HEADERS})
add_library(CLI11::CLI11 ALIAS skav_cli11)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Test code, unoptimized as the tests' own code: it compiles in half the time.
target_compile_options(gtest PRIVATE -O0)
target_compile_options(gtest_main PRIVATE -O0)
