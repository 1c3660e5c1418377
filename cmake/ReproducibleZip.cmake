# CPack post-build script: rewrites each package with fixed times (SOURCE_DATE_EPOCH, else the
# commit's time) and entries in name order, so that two builds of a commit are alike.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${CPACK_PROBES_SOURCE_DIR}"
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed
                  ERROR_QUIET)
  if(failed OR epoch STREQUAL "")
    set(epoch 315532800)  # 1980-01-01, the earliest time a ZIP entry can hold
  endif()
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_PROBES_PYTHON}" "${CPACK_PROBES_SOURCE_DIR}/cmake/reproducible_zip.py"
                          "${package}" "${epoch}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not rewrite ${package}")
  endif()
endforeach()
