# 32-bit x86 Linux build (gcc -m32) of the portable core and its unit tests:
# the sizes, casts and layouts the shipping i686 stub has, checked natively.
# Tests run through scripts/i386-env.sh, which reports them skipped where the
# machine runs no 32-bit program (see scripts/setup.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
# Debian's i386 packages (zlib1g-dev:i386) install here.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-env.sh;run;elf")
# pkg-config would otherwise answer with the host's 64-bit libraries
# (FindOpenSSL asks it first).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
