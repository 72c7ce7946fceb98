# Installs this build into STAGE, then configures and builds the consumer
# project against it from scratch with the same toolchain.
#   -DBUILD=... -DSTAGE=... -DSOURCE=... -DOUT=... -DTOOLCHAIN=...
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()
file(REMOVE_RECURSE ${STAGE} ${OUT})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE})
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${OUT} -G Ninja -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${STAGE})
run(${CMAKE_COMMAND} --build ${OUT})
