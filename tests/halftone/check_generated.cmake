# Runs the dither data generator into OUT_DIR and compares every file it
# writes with the one checked in under SRC_DIR.
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
execute_process(COMMAND ${GENERATOR} ${OUT_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "generator failed: ${rc}")
endif()
foreach(name screens_data.cpp noise_matrix_data.cpp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT_DIR}/${name} ${SRC_DIR}/${name}
                  RESULT_VARIABLE diff)
  if(NOT diff EQUAL 0)
    message(FATAL_ERROR "lib/halftone/${name} is out of step with tools/gen_dither_data.cpp; "
                        "regenerate it (see the head of the file)")
  endif()
endforeach()
