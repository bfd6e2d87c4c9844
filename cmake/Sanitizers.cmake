if(OSKEL_ASAN AND OSKEL_TSAN)
  message(FATAL_ERROR "OSKEL_ASAN and OSKEL_TSAN cannot be combined")
endif()
if(OSKEL_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(OSKEL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
# Line tables are all that backtraces and sanitizer reports need; full debug
# information nearly doubles the compile time of template-heavy files (the
# package is stripped anyway). Under ASan+UBSan, -O1 (the level ASan is tuned
# for) also halves the time spent compiling instrumented Boost templates.
if(OSKEL_ASAN)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
else()
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG")
endif()

# Sources that are mostly Asio and Beast template code. Once inlined, those
# internals trip GCC's flow-based checks (null dereference; maybe-uninitialized
# under the sanitizers), and UBSan instrumentation of them costs minutes of
# compile time per file while checking the library rather than us; ASan stays.
function(oskel_boost_heavy_sources target)
  set(options -Wno-null-dereference -Wno-maybe-uninitialized)
  if(OSKEL_ASAN)
    list(APPEND options -fno-sanitize=undefined)
  endif()
  set_source_files_properties(${ARGN} TARGET_DIRECTORY ${target} PROPERTIES COMPILE_OPTIONS "${options}")
endfunction()
