# The ways a program reaches the library, as docs/library.md shows them, each built with the Windows
# toolchain as a project of its own (cmake -P, with -D):
#   WAY=install: inventory/ configured on its own, built and installed into WORK/inventory-prefix;
#                and the whole project (PROJECT_BUILD) installed into WORK/project-prefix;
#   WAY=package, fetch or subdirectory: inventory/example into WORK/inventory-example-WAY,
#                through find_package (installed again, then moved), FetchContent (from
#                SOURCE) or add_subdirectory.
# Also SOURCE (the source tree) and TOOLCHAIN.
set(flags "-O2 -DNDEBUG -Wall -Wextra -Wpedantic -Werror")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}")
  endif()
endfunction()

if(WAY STREQUAL "install")
  set(build "${WORK}/inventory-alone")
  file(REMOVE_RECURSE "${build}" "${WORK}/inventory-prefix" "${WORK}/project-prefix")
  run("${CMAKE_COMMAND}" -S "${SOURCE}/inventory" -B "${build}" -G Ninja "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}"
      -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=${flags}")
  run("${CMAKE_COMMAND}" --build "${build}")
  run("${CMAKE_COMMAND}" --install "${build}" --prefix "${WORK}/inventory-prefix")
  run("${CMAKE_COMMAND}" --install "${PROJECT_BUILD}" --prefix "${WORK}/project-prefix")
else()
  set(build "${WORK}/inventory-example-${WAY}")
  file(REMOVE_RECURSE "${build}")
  # The package from a prefix moved after its installation: nothing in it may name where it
  # was installed.
  set(prefix "${WORK}/inventory-prefix-moved")
  if(WAY STREQUAL "package")
    file(REMOVE_RECURSE "${prefix}" "${prefix}-installed")
    run("${CMAKE_COMMAND}" --install "${WORK}/inventory-alone" --prefix "${prefix}-installed")
    file(RENAME "${prefix}-installed" "${prefix}")
  endif()
  run("${CMAKE_COMMAND}" -S "${SOURCE}/inventory/example" -B "${build}" -G Ninja
      "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=${flags}"
      "-DPICK_GPU_INVENTORY_FROM=${WAY}" "-DCMAKE_PREFIX_PATH=${prefix}"
      "-DFETCHCONTENT_SOURCE_DIR_GPU_INVENTORY=${SOURCE}")
  run("${CMAKE_COMMAND}" --build "${build}")
endif()
