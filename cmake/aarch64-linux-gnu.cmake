# Cross-builds the modules for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu), which finds the arm64 interpreter headers
# (libpython3.X-dev:arm64) under /usr/include by itself. The interpreter that
# drives the build reports the arm64 interpreter's configuration (extension
# suffix, platform) when started with
#   _PYTHON_HOST_PLATFORM=linux-aarch64
#   _PYTHON_SYSCONFIGDATA_NAME=_sysconfigdata__linux_aarch64-linux-gnu
# as scripts/wheels does.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
