# check_install.cmake - cmake --install gives a tree that runs on its own.
#
# Installs the build BUILD_DIR with DESTDIR into a fresh temporary folder (prefix
# /opt/tessera), moves the result elsewhere (a packager's tree is unpacked under another
# root), then checks there: every program, bundle and toolbox library is in its place and
# nothing pollutes lib/; ldd finds every library, none in the build or source tree; fxhost
# finds both bundles by itself, tessera-config reads a preferences folder, and fxhost renders
# a short clip whose frames ffprobe (when given as FFPROBE) counts. Nothing is run with
# LD_LIBRARY_PATH or $FXHOST_PLUGIN_PATH. The build tree is left as it was: cmake --install's
# list of installed files, install_manifest.txt, is put back as it was found; the temporary
# folder is removed on every path.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... [-DFFPROBE=...] -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR SOURCE_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "check_install.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND mktemp -d /tmp/tessera-install-XXXXXX OUTPUT_VARIABLE tmp
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE made)
if(NOT made EQUAL 0 OR NOT IS_DIRECTORY "${tmp}")
  message(FATAL_ERROR "cannot make a temporary folder")
endif()
set(manifest "${BUILD_DIR}/install_manifest.txt")
set(had_manifest FALSE)
if(EXISTS "${manifest}")
  set(had_manifest TRUE)
  file(COPY_FILE "${manifest}" "${tmp}/saved_manifest.txt")
endif()

macro(restore)
  if(had_manifest)
    file(COPY_FILE "${tmp}/saved_manifest.txt" "${manifest}")
  else()
    file(REMOVE "${manifest}")
  endif()
  file(REMOVE_RECURSE "${tmp}")
endmacro()
macro(fail text)
  restore()
  message(FATAL_ERROR "${text}")
endmacro()

# --- install and move -------------------------------------------------------------------
set(prefix /opt/tessera)
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${tmp}/stage
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  fail("cmake --install with DESTDIR failed (${rc}):\n${out}")
endif()
if(EXISTS "${prefix}/bin/fxhost" AND NOT EXISTS "${tmp}/stage${prefix}/bin/fxhost")
  fail("cmake --install ignored DESTDIR")
endif()
set(root "${tmp}/moved/tree")
file(MAKE_DIRECTORY "${tmp}/moved")
file(RENAME "${tmp}/stage${prefix}" "${root}")

# --- what is where ----------------------------------------------------------------------
set(private "${root}/lib/tessera")
foreach(part
    bin/fxhost bin/tessera-config
    lib/tessera/libtessera-toolbox-core.so
    lib/tessera/Tessera.bundle/Contents/Info.plist
    lib/tessera/Tessera.bundle/Contents/Linux/Tessera
    lib/tessera/Tessera.bundle/Contents/Resources/Tessera.rsrc
    lib/tessera/TesseraMotion.bundle/Contents/Info.plist
    lib/tessera/TesseraMotion.bundle/Contents/Linux/TesseraMotion
    lib/tessera/TesseraMotion.bundle/Contents/Resources/TesseraMotion.rsrc)
  if(NOT EXISTS "${root}/${part}")
    fail("the installed tree lacks ${part}")
  endif()
endforeach()
file(GLOB polluting "${root}/lib/*.so" "${root}/lib/*.so.*")
if(polluting)
  fail("toolbox libraries installed straight into lib/: ${polluting}")
endif()
# The bundles are installed whole: every file of the built bundle has its installed copy.
foreach(name Tessera TesseraMotion)
  file(GLOB_RECURSE built RELATIVE "${BUILD_DIR}/out/bin/${name}.bundle"
       "${BUILD_DIR}/out/bin/${name}.bundle/*")
  foreach(file ${built})
    if(NOT EXISTS "${private}/${name}.bundle/${file}")
      fail("the installed ${name}.bundle lacks ${file}")
    endif()
  endforeach()
endforeach()

# --- every executable finds its libraries, none in the build -----------------------------
find_program(LDD ldd)
if(LDD)
  file(GLOB_RECURSE executables "${root}/bin/*" "${private}/*.so"
       "${private}/*.bundle/Contents/Linux/*")
  foreach(exe ${executables})
    execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${LDD} ${exe}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE libs ERROR_VARIABLE libs)
    if(NOT rc EQUAL 0 OR libs MATCHES "not found")
      fail("ldd ${exe}:\n${libs}")
    endif()
    foreach(tree "${BUILD_DIR}" "${SOURCE_DIR}")
      string(FIND "${libs}" "${tree}" at)
      if(NOT at EQUAL -1)
        fail("${exe} loads a library from ${tree}:\n${libs}")
      endif()
    endforeach()
    string(FIND "${libs}" "libtessera-toolbox-core.so => ${root}/" ours)
    if(exe MATCHES "/bin/fxhost$" AND ours EQUAL -1)
      fail("fxhost does not load the installed toolbox:\n${libs}")
    endif()
  endforeach()
endif()

# --- the programs run from there --------------------------------------------------------
set(run ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=FXHOST_PLUGIN_PATH
        XDG_CONFIG_HOME=${tmp}/config QT_QPA_PLATFORM=offscreen)
file(MAKE_DIRECTORY "${tmp}/work" "${tmp}/prefs")
# expect(NAME PATTERN command...): runs the command in the temporary work folder; it must
# exit with 0 and print something matching PATTERN.
function(expect name pattern)
  execute_process(COMMAND ${run} ${ARGN} WORKING_DIRECTORY ${tmp}/work
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${name} from the installed tree failed (${rc}):\n${out}${err}")
  endif()
  if(NOT out MATCHES "${pattern}")
    fail("${name} printed no match for '${pattern}':\n${out}${err}")
  endif()
endfunction()

# fxhost's own folder has no bundle: these are the ones in lib/tessera.
expect("fxhost info"
       "\"bundle\": \"${private}/Tessera\\.bundle\",[ \n]+\"identifier\": \"com\\.kelmar\\.vidkit\\.tessera\""
       ${root}/bin/fxhost info --json)
expect("fxhost info --plugin TesseraMotion"
       "\"bundle\": \"${private}/TesseraMotion\\.bundle\",[ \n]+\"identifier\": \"com\\.kelmar\\.vidkit\\.tesseramotion\""
       ${root}/bin/fxhost info --json --plugin TesseraMotion)
expect("tessera-config show" "." ${root}/bin/tessera-config --prefs-dir ${tmp}/prefs show)
expect("fxhost render" "" ${root}/bin/fxhost render -o ${tmp}/work/out.mkv -t 0.2 --quiet)
if(NOT EXISTS "${tmp}/work/out.mkv")
  fail("fxhost render exited with 0 but wrote no out.mkv")
endif()
if(FFPROBE)
  execute_process(COMMAND ${FFPROBE} -v error -count_frames -select_streams v:0
                          -show_entries stream=nb_read_frames -of csv=p=0 ${tmp}/work/out.mkv
                  RESULT_VARIABLE rc OUTPUT_VARIABLE frames OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT frames MATCHES "^[0-9]+$" OR frames LESS 1)
    fail("the installed fxhost's out.mkv has no video frames (ffprobe: '${frames}')")
  endif()
  message(STATUS "the installed fxhost rendered ${frames} frames")
endif()

restore()
