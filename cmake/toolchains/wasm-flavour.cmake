# The SSE flavour's arithmetic in WebAssembly: f32 operations are IEEE single precision, each
# rounded, as scalar SSE computes them, so the flavour's x86 flags go (clang refuses them for
# wasm32, and -msse2 would turn on the SIMD proposal) while -ffp-contract=off and
# -fno-fast-math stay. Nothing here is x86, so the 32-bit entry-point stack flag goes too.
# Included by the top-level CMakeLists.txt after flavour.cmake, for the web preset only.
if(NOT FOURWAVE_FLAVOUR STREQUAL "sse")
  message(FATAL_ERROR "the WebAssembly build is the sse flavour")
endif()
get_directory_property(fourwave_wasm_options COMPILE_OPTIONS)
list(REMOVE_ITEM fourwave_wasm_options -msse2 -mfpmath=sse)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${fourwave_wasm_options}")
set(FOURWAVE_ENTRY_FLAGS "")

# A standalone wasm file, OUTPUT.wasm: the page's module, and the test programs run under node.
function(fourwave_wasm_program target output)
  target_link_options(${target} PRIVATE -sSTANDALONE_WASM=1 -sALLOW_MEMORY_GROWTH=1
                      -sINITIAL_MEMORY=16777216 -sTOTAL_STACK=262144)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output} SUFFIX .wasm)
endfunction()

# A test program of the web preset, OUTPUT.wasm from SOURCE on the tests' session driver.
function(fourwave_wasm_test_program target output source)
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE fourwave_test_session)
  fourwave_wasm_program(${target} ${output})
endfunction()
