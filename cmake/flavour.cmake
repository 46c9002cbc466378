# Floating-point flags of the two flavours, for every target of the build, tests included, so
# that what the tests check is what the plug-in computes.
#   sse: scalar SSE, every intermediate rounded to single precision.
#   x87: the x87 unit, with every stored float rounded to single precision (-ffloat-store),
#        so that no state carries extended precision from sample to sample. With GCC 12 in
#        C++, -ffloat-store also rounds the intermediates of an expression (C++ has no
#        -fexcess-precision=standard before GCC 13), so this flavour's outputs match the SSE
#        flavour's on the same libm; the tests still allow the x87 flavour a few ulps.
# Never fast-math, never contraction into fused multiply-adds: outputs are defined bit for bit.
string(TOLOWER "${FOURWAVE_FLAVOUR}" FOURWAVE_FLAVOUR)
if(FOURWAVE_FLAVOUR STREQUAL "sse")
  set(FOURWAVE_FP_FLAGS -msse2 -mfpmath=sse)
  set(FOURWAVE_FLAVOUR_DEFINE FOURWAVE_FLAVOUR_SSE)
elseif(FOURWAVE_FLAVOUR STREQUAL "x87")
  set(FOURWAVE_FP_FLAGS -mfpmath=387 -ffloat-store)
  # The 32-bit x87 builds are for processors without SSE: say so explicitly, so that no
  # toolchain default (-march, a distribution's -msse2) can bring an SSE or MMX instruction in.
  # The x86-64 build cannot: its calling convention passes floats in SSE registers.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND FOURWAVE_FP_FLAGS -mno-sse -mno-sse2 -mno-mmx -mno-3dnow)
  endif()
  set(FOURWAVE_FLAVOUR_DEFINE FOURWAVE_FLAVOUR_X87)
else()
  message(FATAL_ERROR "FOURWAVE_FLAVOUR must be sse or x87, not '${FOURWAVE_FLAVOUR}'")
endif()
add_compile_options(${FOURWAVE_FP_FLAGS} -ffp-contract=off -fno-fast-math)
add_compile_definitions(${FOURWAVE_FLAVOUR_DEFINE})

# Hosts built with other compilers may call with a stack aligned to 4 bytes only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(FOURWAVE_ENTRY_FLAGS -mincoming-stack-boundary=2)
endif()

# The DLLs' own functions and lines, for reading crash reports: compiled into the .debug file
# kept beside each stripped DLL (module/CMakeLists.txt), never into the DLL. -g changes no
# instruction. The source tree is written as /fourwave, so that the .debug file, and with it
# the DLL that carries its checksum, is the same wherever the tree is built.
if(WIN32)
  set(FOURWAVE_PLUGIN_DEBUG_FLAGS -g -ffile-prefix-map=${PROJECT_SOURCE_DIR}=/fourwave)
endif()
