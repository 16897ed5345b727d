# Cross-compiles for macOS with Zig's clang (`zig c++`), which brings libc++, the macOS
# system headers and the stubs of libSystem with it. scripts/macos-build.sh fetches Zig
# and builds the presets macos-x64 and macos-arm64, which set:
#   ROLEGATE_MACOS_ARCH          x86_64 or arm64
#   ROLEGATE_ZIG                 the zig program
#   CMAKE_OSX_DEPLOYMENT_TARGET  the oldest macOS the build runs on (Zig 0.11: 11 or later)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${ROLEGATE_MACOS_ARCH})
if(NOT ROLEGATE_MACOS_ARCH MATCHES "^(x86_64|arm64)$")
  message(FATAL_ERROR "ROLEGATE_MACOS_ARCH must be x86_64 or arm64, not '${ROLEGATE_MACOS_ARCH}'")
endif()
if(NOT ROLEGATE_ZIG OR NOT EXISTS "${ROLEGATE_ZIG}")
  message(FATAL_ERROR "ROLEGATE_ZIG must name the zig program, not '${ROLEGATE_ZIG}' "
                      "(scripts/macos-build.sh fetches one)")
endif()
# The try_compile projects CMake configures read this file again, with these.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ROLEGATE_MACOS_ARCH ROLEGATE_ZIG)

# Zig takes the macOS version from its target (it ignores -mmacosx-version-min when
# linking), and calls Apple silicon aarch64.
if(ROLEGATE_MACOS_ARCH STREQUAL arm64)
  set(_rolegate_zig_target aarch64-macos)
else()
  set(_rolegate_zig_target x86_64-macos)
endif()
if(CMAKE_OSX_DEPLOYMENT_TARGET)
  string(APPEND _rolegate_zig_target ".${CMAKE_OSX_DEPLOYMENT_TARGET}")
endif()

# CMake runs one program per tool, so each is a small script that runs zig with its
# subcommand (and the compiler with its target). They are written once per zig and
# target, outside any build folder, so that the try_compile projects name the same
# programs. The compiler drops -Wl,-v, which CMake's probe of the compiler passes and
# Zig's linker refuses.
get_filename_component(_rolegate_zig_dir "${ROLEGATE_ZIG}" DIRECTORY)
set(_rolegate_tools "${_rolegate_zig_dir}/rolegate-tools/${_rolegate_zig_target}")
set(_rolegate_c++ "for arg do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done
exec '${ROLEGATE_ZIG}' c++ -target ${_rolegate_zig_target} \"$@\"")
set(_rolegate_cc "for arg do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done
exec '${ROLEGATE_ZIG}' cc -target ${_rolegate_zig_target} \"$@\"")
set(_rolegate_ar "exec '${ROLEGATE_ZIG}' ar \"$@\"")
set(_rolegate_ranlib "exec '${ROLEGATE_ZIG}' ranlib \"$@\"")
foreach(_rolegate_tool cc c++ ar ranlib)
  set(_rolegate_script "#!/bin/sh\n${_rolegate_${_rolegate_tool}}\n")
  set(_rolegate_file "${_rolegate_tools}/${_rolegate_tool}")
  if(EXISTS "${_rolegate_file}")
    file(READ "${_rolegate_file}" _rolegate_old)
  else()
    set(_rolegate_old "")
  endif()
  if(NOT _rolegate_old STREQUAL _rolegate_script)
    file(WRITE "${_rolegate_file}.new" "${_rolegate_script}")
    file(CHMOD "${_rolegate_file}.new" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME "${_rolegate_file}.new" "${_rolegate_file}")
  endif()
endforeach()

# C for GoogleTest's project, when the tests are built.
set(CMAKE_C_COMPILER "${_rolegate_tools}/cc")
set(CMAKE_CXX_COMPILER "${_rolegate_tools}/c++")
set(CMAKE_AR "${_rolegate_tools}/ar" CACHE FILEPATH "zig ar" FORCE)
set(CMAKE_RANLIB "${_rolegate_tools}/ranlib" CACHE FILEPATH "zig ranlib" FORCE)
# CMake asks for it on macOS, though only shared libraries (none here) need it.
# LLVM's, which Debian names with its version.
file(GLOB _rolegate_install_name_tools /usr/bin/llvm-install-name-tool /usr/bin/llvm-install-name-tool-*)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool ${_rolegate_install_name_tools})
# No macOS SDK here: Zig has its own headers and stubs.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
