# Warning and sanitizer flags travel through interface targets that every
# real target links privately, never through global flags.
add_library(kestrafin_warnings INTERFACE)
target_compile_options(kestrafin_warnings INTERFACE -Wall -Wextra -Werror)
# GCC 12 reports -Wrestrict on std::string concatenation at -O3 where nothing
# overlaps (GCC bug 105329); it would fail optimized builds for no fault.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(kestrafin_warnings INTERFACE -Wno-restrict)
endif()

add_library(kestrafin_options INTERFACE)
if(KESTRAFIN_SANITIZE)
  target_compile_options(kestrafin_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(kestrafin_options INTERFACE -fsanitize=address,undefined)
endif()
# ThreadSanitizer: a build of its own, for the tests of threaded code.
option(KESTRAFIN_TSAN "Build with ThreadSanitizer (the walk's and the scanner's tests only)" OFF)
if(KESTRAFIN_TSAN)
  target_compile_options(kestrafin_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kestrafin_options INTERFACE -fsanitize=thread)
endif()
if(KESTRAFIN_FUZZ)
  target_compile_options(kestrafin_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(kestrafin_options INTERFACE -fsanitize=address,undefined)
endif()

# Adds a static core library with the project's flags.
function(kestrafin_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE kestrafin_warnings PUBLIC kestrafin_options)
endfunction()
