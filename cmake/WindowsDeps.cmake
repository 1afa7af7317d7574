# The libraries of a Windows cross build. Debian packages no MinGW builds of them, but
# CLI11 and nlohmann-json are header-only and GoogleTest ships its sources: the headers
# are offered through a folder holding only links to them (the whole of /usr/include would
# bring Linux system headers into a Windows build), and GoogleTest is compiled here.
set(VESK_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VESK_HOST_HEADERS})
foreach(dir CLI nlohmann)
  file(CREATE_LINK /usr/include/${dir} ${VESK_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${VESK_HOST_HEADERS})
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${VESK_HOST_HEADERS})

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)  # defines GTest::gtest, GTest::gmock, ...

# One executable with no MinGW runtime DLLs beside it; Winsock, the secure random generator,
# ntdll (another process's parameters) and shell32 (splitting a command line).
add_link_options(-static)
link_libraries(ws2_32 bcrypt iphlpapi advapi32 ntdll shell32)
