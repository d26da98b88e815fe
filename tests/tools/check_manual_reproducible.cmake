# The manual renderer gives the same bytes for the same source: run twice (in two processes,
# so Qt's hashing starts afresh) with SOURCE_DATE_EPOCH set, the two PDFs are identical and
# carry that date; the real manual is the source, with its pictures.
# cmake -DRENDER=manualrender -DSOURCE=manual.md -DWORK=dir -P check_manual_reproducible.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
foreach(run 1 2)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen SOURCE_DATE_EPOCH=86400
            ${RENDER} ${SOURCE} ${WORK}/manual${run}.pdf
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "manualrender failed (${status})")
  endif()
endforeach()
file(SHA256 ${WORK}/manual1.pdf first)
file(SHA256 ${WORK}/manual2.pdf second)
file(STRINGS ${WORK}/manual1.pdf stamped REGEX "/CreationDate \\(D:19700102000000Z\\)")
file(REMOVE_RECURSE ${WORK})
if(NOT first STREQUAL second)
  message(FATAL_ERROR "two renderings of the same manual differ")
endif()
if(NOT stamped)
  message(FATAL_ERROR "the manual does not carry SOURCE_DATE_EPOCH's date")
endif()
