# Builds the tiny host in project/ against this library, either through add_subdirectory or
# through find_package after an install into a scratch prefix. Run with cmake -P.
set(build_dir ${WORK_DIR}/${MODE})
file(REMOVE_RECURSE ${build_dir})
file(MAKE_DIRECTORY ${build_dir})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "command failed (${result}): ${ARGN}\n${out}")
  endif()
endfunction()

set(project_dir ${CMAKE_CURRENT_LIST_DIR}/project)
if(MODE STREQUAL "add_subdirectory")
  run(${CMAKE_COMMAND} -S ${project_dir} -B ${build_dir}/host -DTREE_SOURCE_DIR=${SOURCE_DIR})
else()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build_dir}/lib -DTREE_BUILD_TESTS=OFF
      -DTREE_BUILD_BENCHMARKS=OFF -DTREE_BUILD_EXAMPLES=OFF -DTREE_BUILD_TOOLS=OFF -DTREE_INSTALL=ON
      -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${build_dir}/lib -j2)
  run(${CMAKE_COMMAND} --install ${build_dir}/lib --prefix ${build_dir}/prefix)
  run(${CMAKE_COMMAND} -S ${project_dir} -B ${build_dir}/host
      -DCMAKE_PREFIX_PATH=${build_dir}/prefix)
endif()
run(${CMAKE_COMMAND} --build ${build_dir}/host -j2)
run(${build_dir}/host/consumer_host)
run(${build_dir}/host/consumer_formats)
run(${build_dir}/host/consumer_zk)
