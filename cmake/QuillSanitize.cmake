# Sanitizer build (QUILL_SANITIZE=address,undefined): every target of the
# suite, the programs the end-to-end tests run under CUPS included, is built
# with the sanitizers so that the whole test suite runs against them.
#
# UndefinedBehaviorSanitizer stops at the first report
# (-fno-sanitize-recover) so a test cannot pass over undefined behaviour;
# frame pointers keep the reports' stacks whole at -O1.

if(QUILL_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUILL_SANITIZE needs clang (CC=clang CXX=clang++)")
  endif()
  set(QUILL_SANITIZE_FLAGS -fsanitize=${QUILL_SANITIZE} -fno-omit-frame-pointer)
  if(QUILL_SANITIZE MATCHES "undefined")
    list(APPEND QUILL_SANITIZE_FLAGS -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${QUILL_SANITIZE_FLAGS})
  # The C programs (examples, the C host test) load the C++ library, whose
  # vptr checks need the sanitizer's C++ runtime part as well.
  add_link_options(-fsanitize=${QUILL_SANITIZE}
                   "$<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime;-lstdc++>")
endif()

# Fuzz targets (fuzz/): everything is compiled with libFuzzer's coverage
# instrumentation, so the targets see which branches of the library an
# input reached; the other programs of the build run as usual (the
# sanitizer runtime answers the instrumentation's calls).
if(QUILL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT QUILL_SANITIZE)
    message(FATAL_ERROR "QUILL_FUZZ needs clang and QUILL_SANITIZE (see scripts/test.sh)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
