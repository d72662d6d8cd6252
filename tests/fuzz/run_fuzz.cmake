# Runs a fuzz target over the seed corpus of the repository without writing
# into it: libFuzzer writes the inputs it finds into its first corpus folder,
# which is a fresh one in the build tree.
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DRUNS=... -DMAX_LEN=... -P run_fuzz.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${FUZZER}" "${WORK}" "${SEEDS}" -runs=${RUNS} -seed=1
                        -max_len=${MAX_LEN} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} ended with ${result}")
endif()
