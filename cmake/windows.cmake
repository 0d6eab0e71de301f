# The Windows build's dependencies, from the prefix that scripts/windows-deps fills: static
# SQLite and pugixml, header-only spdlog, fmt and CLI11, and GoogleTest. The targets
# carry the names the Linux build gets from pkg-config and the packages' own CMake files, so
# that the rest of the tree links them the same way on both systems.
if(NOT KIV_WINDOWS_DEPS OR NOT EXISTS "${KIV_WINDOWS_DEPS}/.stamps")
  message(FATAL_ERROR "No Windows dependencies in '${KIV_WINDOWS_DEPS}': run scripts/windows-deps")
endif()

set(KIV_DEPS_INCLUDE "${KIV_WINDOWS_DEPS}/include")

add_library(PkgConfig::SQLITE3 STATIC IMPORTED)
set_target_properties(PkgConfig::SQLITE3 PROPERTIES
  IMPORTED_LOCATION "${KIV_WINDOWS_DEPS}/lib/libsqlite3.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KIV_DEPS_INCLUDE}")

# Debian's spdlog is configured for an external fmt; both are used header-only here.
add_library(spdlog::spdlog INTERFACE IMPORTED)
set_target_properties(spdlog::spdlog PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${KIV_DEPS_INCLUDE}"
  INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${KIV_DEPS_INCLUDE}")

find_package(pugixml REQUIRED)
set(ACL_LIBRARY "")

# DLLs and component modules land beside the programs: Windows finds a program's DLLs in
# its own folder, and the factory looks for modules beside tqUtilities.dll. Windows DLLs
# carry no "lib" prefix.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
# Target Windows 7 and later headers; the code itself looks up anything newer at run time.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                        NOMINMAX)
# Shared libraries export everything, as they do on Linux, so that the test programs reach
# their internals; component modules export only what they mark.
set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -Wl,--export-all-symbols")

# The compiler's own run-time DLLs go beside the programs, so that Wine and Windows find them.
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS "${runtime_path}")
    file(COPY "${runtime_path}" DESTINATION ${CMAKE_BINARY_DIR}/bin)
  endif()
endforeach()

# Test programs are listed when ctest runs (through the emulator, Wine), not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
