# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX threads model). The
# libraries built by scripts/windows-deps are found in their prefix and nowhere else on the
# build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KIV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KIV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV_MINGW_TRIPLE}-windres)

# The dependency prefix: given on the command line, else from the environment, else the
# cache that scripts/windows-deps fills by default.
if(NOT KIV_WINDOWS_DEPS)
  if(DEFINED ENV{KIV_WINDOWS_DEPS})
    set(KIV_WINDOWS_DEPS "$ENV{KIV_WINDOWS_DEPS}")
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(KIV_WINDOWS_DEPS "$ENV{XDG_CACHE_HOME}/kiv-windows-deps/current")
  else()
    set(KIV_WINDOWS_DEPS "$ENV{HOME}/.cache/kiv-windows-deps/current")
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIV_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${KIV_MINGW_TRIPLE} ${KIV_WINDOWS_DEPS})
set(CMAKE_PREFIX_PATH ${KIV_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the prefix: the build machine's .pc files describe Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${KIV_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
