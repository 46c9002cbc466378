# WebAssembly with Debian's emscripten (the web preset). Its own toolchain file does the work;
# the libraries come from its prebuilt sysroot cache (EM_CACHE, if set, names another one).
if(EXISTS /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
  include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
else()
  message(FATAL_ERROR "emscripten is not installed (apt-get install emscripten)")
endif()
