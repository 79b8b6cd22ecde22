# sanitize.cmake - the option DELTAMAINT_SANITIZE: every target of the
# build compiled and linked with AddressSanitizer and UndefinedBehavior-
# Sanitizer.  Any report ends the process (no recovery), and every program
# carries default sanitizer options (sanitize_defaults.cpp) because the
# test sandbox runs programs with an empty environment, where ASAN_OPTIONS
# set by the caller would not arrive.
option(DELTAMAINT_SANITIZE "Build every target with ASan and UBSan" OFF)

if(DELTAMAINT_SANITIZE)
  set(DM_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${DM_SANITIZE_FLAGS})
  # GCC 12 reports std::function members inside <regex> as maybe
  # uninitialized once the sanitizers instrument the code (a false alarm of
  # the instrumented optimiser; the plain build stays silent).
  add_compile_options(-Wno-maybe-uninitialized)
  add_link_options(${DM_SANITIZE_FLAGS})

  # The defaults live in a library of their own; -u makes the linker take
  # its object into every program although nothing calls it (the runtimes
  # look the hooks up through weak references).
  add_library(dm_sanitize_defaults STATIC ${CMAKE_CURRENT_LIST_DIR}/sanitize_defaults.cpp)
  add_link_options(-Wl,-u,__asan_default_options -Wl,-u,__ubsan_default_options
                   -Wl,-u,__lsan_default_options)
  link_libraries(dm_sanitize_defaults)
endif()
