# Runs CHECKER over TREE and fails unless it exits 1 and prints exactly the
# lines of EXPECTED.
execute_process(COMMAND ${CHECKER} ${TREE} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
file(READ ${EXPECTED} want)
if(NOT rc EQUAL 1)
  message(FATAL_ERROR "expected exit 1 for the planted tree, got ${rc}:\n${out}")
endif()
if(NOT out STREQUAL want)
  message(FATAL_ERROR "findings differ.\n--- got:\n${out}--- expected:\n${want}")
endif()
