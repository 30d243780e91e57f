# 32-bit x86 Linux build on a 64-bit host (gcc-multilib, g++-multilib).
# Its tests run natively where the kernel runs i386 programs, else under
# qemu-i386 (see tests/CMakeLists.txt).
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
