# Cross build for 64-bit Arm Linux with Debian's cross toolchain, linked
# statically so that qemu-aarch64 runs the result without a sysroot (-L).
#
#   cmake -S . -B build/arm64 -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake \
#         -DREFLECTOR_BUILD_APP=OFF -DREFLECTOR_BUILD_BENCH=OFF
#
# Needs: crossbuild-essential-arm64 (g++-aarch64-linux-gnu) and, through
# Debian multiarch (dpkg --add-architecture arm64), the arm64 builds of the
# libraries the core links, e.g. libmpfr-dev:arm64 libgmp-dev:arm64. Their
# files live in /usr/lib/aarch64-linux-gnu and /usr/include/aarch64-linux-gnu;
# the cross compiler's own C library lives in /usr/aarch64-linux-gnu.
# scripts/check-arm64 installs all of it and builds with this file.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(triplet aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
# LTO needs the plugin-aware archiver of the same compiler.
set(CMAKE_C_COMPILER_AR ${triplet}-gcc-ar)
set(CMAKE_CXX_COMPILER_AR ${triplet}-gcc-ar)
set(CMAKE_C_COMPILER_RANLIB ${triplet}-gcc-ranlib)
set(CMAKE_CXX_COMPILER_RANLIB ${triplet}-gcc-ranlib)

# Debian multiarch: the target's files sit beside the build machine's in the
# same tree, under the triplet's folders. Search those and the cross C
# library, never the build machine's own (x86_64-linux-gnu) folders.
set(CMAKE_LIBRARY_ARCHITECTURE ${triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} /)
list(APPEND CMAKE_SYSTEM_LIBRARY_PATH /usr/lib/${triplet} /lib/${triplet})
list(APPEND CMAKE_SYSTEM_INCLUDE_PATH /usr/include/${triplet})
foreach(host_arch x86_64-linux-gnu i386-linux-gnu)
  list(APPEND CMAKE_IGNORE_PATH /usr/lib/${host_arch} /lib/${host_arch} /usr/include/${host_arch})
endforeach()
# Programs (help2man, gzip, ...) run on the build machine; libraries, headers
# and CMake packages come from the target's folders.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (FindPkgConfig) reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${triplet}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Static: every executable is linked with -static (glibc, libstdc++, libmpfr.a,
# libgmp.a), and find_library, pkg_check_modules' imported targets included,
# takes archives only. CMake sets its default list of suffixes (.so .a) after
# reading this file, so the archives-only list is set in a file read after that.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/static-libraries.cmake)

# No fused multiply-add: aarch64 GCC contracts a*b+c into fmadd by default,
# which changes results. The project adds -ffp-contract=off to every compile;
# it is repeated here so that it holds for anything built with this file, and
# at the link, where LTO compiles the code once more.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -ffp-contract=off")

# Let CTest and gtest_discover_tests run target programs through qemu.
find_program(REFLECTOR_QEMU_AARCH64 qemu-aarch64)
if(REFLECTOR_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${REFLECTOR_QEMU_AARCH64})
endif()
