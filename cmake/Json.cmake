# kestrafin_json: nlohmann-json's headers (Debian's nlohmann-json3-dev). The
# cross build must not search the build machine's /usr/include, where the
# host's C library headers lie, so it gets a folder of its own in the build
# tree holding only a link to the library's folder.
add_library(kestrafin_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(system_json /usr/include/nlohmann)
  if(NOT EXISTS ${system_json}/json.hpp)
    message(FATAL_ERROR "${system_json}/json.hpp is missing: install nlohmann-json3-dev")
  endif()
  set(json_include ${CMAKE_BINARY_DIR}/nlohmann-json-include)
  file(MAKE_DIRECTORY ${json_include})
  file(CREATE_LINK ${system_json} ${json_include}/nlohmann SYMBOLIC)
  target_include_directories(kestrafin_json SYSTEM INTERFACE ${json_include})
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  target_link_libraries(kestrafin_json INTERFACE nlohmann_json::nlohmann_json)
endif()
