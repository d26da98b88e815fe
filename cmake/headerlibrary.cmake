# tessera_header_library(PACKAGE VERSION TARGET HEADER): a library of headers alone, found
# once for every folder as the imported target TARGET (HEADER is one of its headers, as
# included). A cross build finds packages in its target's root only, where Debian has no
# such packages (the PowerPC build); headers alone are the same for every processor, so
# they are then taken from this machine, by themselves (HEADER's top folder, not the rest
# of its /usr/include).
function(tessera_header_library package version target header)
  if(CMAKE_CROSSCOMPILING)
    find_package(${package} ${version} QUIET)
  endif()
  if(CMAKE_CROSSCOMPILING AND NOT ${package}_FOUND)
    string(REGEX REPLACE "/.*" "" top ${header})
    find_path(TESSERA_${package}_INCLUDE ${header} NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(only ${CMAKE_CURRENT_BINARY_DIR}/${package}-only)
    file(MAKE_DIRECTORY ${only})
    file(CREATE_LINK ${TESSERA_${package}_INCLUDE}/${top} ${only}/${top} SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} INTERFACE ${only})
  else()
    find_package(${package} ${version} REQUIRED)
    set_target_properties(${target} PROPERTIES IMPORTED_GLOBAL TRUE)
  endif()
endfunction()
