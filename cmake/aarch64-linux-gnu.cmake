# The controller board: 64-bit Arm, built with Debian's cross compiler against
# the arm64 libraries installed through multiarch (/usr/lib/aarch64-linux-gnu).
# Programs built with it run on this PC under qemu's user-mode emulator, so
# CTest runs the unit tests unchanged.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
find_program(CMAKE_STRIP aarch64-linux-gnu-strip)

# Libraries and headers of the board only; the build's own tools come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(KX_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(KX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KX_QEMU_AARCH64})
endif()
