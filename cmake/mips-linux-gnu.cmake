# Target build: 32-bit big-endian MIPS Linux with the Debian cross toolchain.
# Test executables run under user-mode emulation with the cross sysroot, so
# ctest works unchanged on the build host.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

set(HWROUTE_MIPS_SYSROOT /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${HWROUTE_MIPS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips-static -L ${HWROUTE_MIPS_SYSROOT})
