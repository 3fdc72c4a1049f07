# The build's rule for the test image, by content: run with cmake -P and
# -DSOURCE_DIR=<source tree> -DWORK_DIR=<scratch folder>.
include(${SOURCE_DIR}/cmake/carried_image.cmake)
set(shipped ${SOURCE_DIR}/resources/firmware/kelvro-test-image-NOT-FIRMWARE.bin)
file(MAKE_DIRECTORY ${WORK_DIR})
configure_file(${shipped} ${WORK_DIR}/kelvro-01.22.packed COPYONLY)
file(WRITE ${WORK_DIR}/vendor.packed "KELVRO controller image 01.22 ...")
file(WRITE ${WORK_DIR}/short.packed "KELVRO TEST")
file(WRITE ${WORK_DIR}/marker.packed "KELVRO TEST IMAGE, regenerated")

set(failures 0)
foreach(case
    "${shipped}=true"
    "${WORK_DIR}/kelvro-01.22.packed=true"
    "${WORK_DIR}/marker.packed=true"
    "${WORK_DIR}/vendor.packed=false"
    "${WORK_DIR}/short.packed=false")
  string(REGEX MATCH "^(.*)=(true|false)$" _ "${case}")
  kelvro_is_test_image("${CMAKE_MATCH_1}" seen)
  if(NOT seen STREQUAL CMAKE_MATCH_2)
    message(SEND_ERROR "${CMAKE_MATCH_1}: test image ${seen}, expected ${CMAKE_MATCH_2}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} wrong")
endif()
