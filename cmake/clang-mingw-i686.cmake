# The same 32-bit Windows build as mingw-i686.cmake with clang in place of GCC:
# clang targets i686-w64-mingw32 and uses MinGW-w64's headers, C++ library,
# runtime and linker, and windres for the resources. Two compilers keep the
# code to standard C++ and the Win32 API.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)

# clang finds GCC's folder for the target only when its name is a bare version
# ("12"); Debian names it after the thread model ("12-posix"). So its C++
# headers and libraries are named here, from where that GCC keeps libgcc.
# GCC's C++ library for this target keeps its thread-local variables (those of
# std::call_once, which std::future uses) in emulated TLS; clang must reach
# them the same way.
execute_process(COMMAND i686-w64-mingw32-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE orlivan_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(orlivan_gcc_dir "${orlivan_libgcc}" DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT
    "-stdlib++-isystem ${orlivan_gcc_dir}/include/c++ -stdlib++-isystem ${orlivan_gcc_dir}/include/c++/i686-w64-mingw32 -stdlib++-isystem ${orlivan_gcc_dir}/include/c++/backward -femulated-tls"
)
# -pthread puts winpthreads after libgcc_eh, whose thread-local storage needs
# it, as GCC's posix variant links it. LLVM's linker: GNU ld links the same
# objects but warns about every type name that GCC's libstdc++ pads and clang
# does not. -B: GCC's crtbegin.o and crtend.o instead of MinGW-w64's, since
# only GCC's register the unwind tables that libgcc's unwinder reads; without
# them every thrown exception ends the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${orlivan_gcc_dir} -B${orlivan_gcc_dir} -pthread -fuse-ld=lld")
# The same for DLLs (the service library).
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
