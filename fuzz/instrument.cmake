# Included by the top-level CMakeLists.txt when TARNOVEL_FUZZ is ON, before any target exists:
# every library the fuzz targets call is built with libFuzzer's coverage and with AddressSanitizer
# and UndefinedBehaviorSanitizer, so that a bad input is caught where it first goes wrong.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR
    "TARNOVEL_FUZZ needs clang with libFuzzer: configure with -DCMAKE_CXX_COMPILER=clang++ "
    "(Debian: apt-get install clang), or use `make fuzz`, which does.")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
