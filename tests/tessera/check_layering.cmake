# Fails when a file of the plug-in includes a header that its folder may not include.
#
#   cmake -DROOT=<source tree> -P check_layering.cmake
#
# The folders of tessera/ depend one way only. A header belongs to the folder it lies in;
# a folder may include its own headers, those of the folders listed for it below, the
# toolbox's core and the host interface. The windowing toolbox (toolbox/ui) is for the
# folders listed in ui_users alone. A folder missing from the table fails too: where it
# stands in the graph is to be decided, not assumed.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_layering.cmake")
endif()

set(may_include_records "")
set(may_include_common records)
set(may_include_engine records common)
set(may_include_storage records common engine)
set(may_include_host records common engine storage)
set(may_include_dialog records common engine storage)
set(may_include_bundle records common engine storage host dialog)
# The other front ends: the frei0r filter has no preferences file and no windows;
# tessera-config works on the saved configuration.
set(may_include_frei0r records common engine)
set(may_include_config records common engine storage)
set(ui_users storage dialog bundle)

# Which folder each header name belongs to.
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${ROOT}/tessera ${ROOT}/tessera/*)
set(known_headers "")
foreach(folder ${folders})
  if(IS_DIRECTORY ${ROOT}/tessera/${folder})
    file(GLOB headers RELATIVE ${ROOT}/tessera/${folder} ${ROOT}/tessera/${folder}/*.h)
    foreach(h ${headers})
      set(owner_${h} ${folder})
    endforeach()
  endif()
endforeach()
file(GLOB ui_headers RELATIVE ${ROOT}/toolbox/ui ${ROOT}/toolbox/ui/*.h)
foreach(h ${ui_headers})
  if(NOT DEFINED owner_${h})
    set(owner_${h} toolbox/ui)
  endif()
endforeach()

set(violations "")
foreach(folder ${folders})
  file(GLOB_RECURSE sources RELATIVE ${ROOT}/tessera
       ${ROOT}/tessera/${folder}/*.h ${ROOT}/tessera/${folder}/*.cpp)
  if(NOT sources)
    continue()
  endif()
  if(NOT DEFINED may_include_${folder})
    list(APPEND violations "tessera/${folder}/ has sources but no row in check_layering.cmake")
    continue()
  endif()
  foreach(source ${sources})
    file(STRINGS ${ROOT}/tessera/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      if(NOT DEFINED owner_${header})
        continue() # the toolbox's core, the host interface, a system header
      endif()
      set(owner ${owner_${header}})
      if(owner STREQUAL folder)
        continue()
      endif()
      if(owner STREQUAL "toolbox/ui")
        if(NOT folder IN_LIST ui_users)
          list(APPEND violations "tessera/${source} includes ${header} of the windowing toolbox")
        endif()
      elseif(NOT owner IN_LIST may_include_${folder})
        list(APPEND violations "tessera/${source} includes ${header} of ${owner}/")
      endif()
    endforeach()
  endforeach()
endforeach()

# OpenCV is for fxhost's analysis alone: the renderer, the plug-in, the toolbox and the rest
# of fxhost never include it.
file(GLOB_RECURSE all_sources RELATIVE ${ROOT}
     ${ROOT}/tessera/*.h ${ROOT}/tessera/*.cpp ${ROOT}/fxhost/*.h ${ROOT}/fxhost/*.cpp
     ${ROOT}/toolbox/*.h ${ROOT}/toolbox/*.cpp ${ROOT}/interface/*.h ${ROOT}/interface/*.cpp)
foreach(source ${all_sources})
  if(source MATCHES "^fxhost/analysis/")
    continue()
  endif()
  file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]opencv")
  if(lines)
    list(APPEND violations "${source} includes OpenCV, which only fxhost/analysis/ may")
  endif()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes against the folder graph:\n  ${text}")
endif()
message(STATUS "the folders of tessera/ include one way only")
