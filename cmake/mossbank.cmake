# Shared build settings: warnings as errors for our code, the sanitizer
# configurations, and one helper that turns a src/ folder into a library
# with its unit tests beside it.

set(MOSSBANK_WARNINGS -Wall -Wextra -Wnon-virtual-dtor -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports these inside libstdc++ at -O2 for code that is fine.
  list(APPEND MOSSBANK_WARNINGS -Wshadow=local -Wno-error=maybe-uninitialized
       -Wno-error=stringop-overflow -Wno-error=array-bounds -Wno-error=restrict)
endif()

if(MOSSBANK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MOSSBANK_FUZZ)
  # Coverage for everything; the fuzz targets themselves link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MOSSBANK_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# mossbank_module(<name> [THREADED] [DEPS <targets>...])
# Every .cpp in the calling folder and its subfolders except *_test.cpp and *_fuzz.cpp goes into
# the static library mossbank_<name>; the *_test.cpp files form <name>_tests,
# registered with CTest under the label <name>; each *_fuzz.cpp becomes a
# libFuzzer target when MOSSBANK_FUZZ is on. A THREADED module shares state
# across threads: the ThreadSanitizer build makes its tests and no others.
function(mossbank_module name)
  cmake_parse_arguments(ARG "THREADED" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(lib_sources)
  set(test_sources)
  set(fuzz_sources)
  foreach(f IN LISTS all_sources)
    if(f MATCHES "/main\\.cpp$")
      # the program's entry is built by the folder itself
    elseif(f MATCHES "_test\\.cpp$")
      list(APPEND test_sources ${f})
    elseif(f MATCHES "_fuzz\\.cpp$")
      list(APPEND fuzz_sources ${f})
    else()
      list(APPEND lib_sources ${f})
    endif()
  endforeach()

  set(lib mossbank_${name})
  if(lib_sources)
    add_library(${lib} STATIC ${lib_sources})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${lib} PRIVATE ${MOSSBANK_WARNINGS})
    target_link_libraries(${lib} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${lib} INTERFACE)
    target_include_directories(${lib} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${lib} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()

  if(test_sources AND NOT MOSSBANK_FUZZ AND (ARG_THREADED OR NOT MOSSBANK_TSAN))
    add_executable(${name}_tests ${test_sources})
    target_compile_options(${name}_tests PRIVATE ${MOSSBANK_WARNINGS})
    target_link_libraries(${name}_tests PRIVATE ${lib} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name}_tests PRIVATE
      MOSSBANK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${name})
  endif()

  if(MOSSBANK_FUZZ)
    foreach(f IN LISTS fuzz_sources)
      get_filename_component(fuzz_name ${f} NAME_WE)
      add_executable(${fuzz_name} ${f})
      target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
      target_link_libraries(${fuzz_name} PRIVATE ${lib})
    endforeach()
  endif()
endfunction()
