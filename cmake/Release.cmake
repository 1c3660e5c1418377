# What a Windows user downloads: version resources in the .exe, and
# `cmake --build --preset windows --target package`, a ZIP that two builds of the same commit
# make byte for byte alike.

# No link time stamp and no build folder in the executables.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=." "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
add_link_options(-Wl,--no-insert-timestamp)
# No symbol table or debug information in the executables: most of each file's size otherwise.
# Stripped by the linker, not by a strip tool run afterwards (that one stamps the time in).
add_link_options(-s)

# probe_version_resource(<target> <description> [<file name>]): FileVersion and ProductVersion
# from the project's version, the description, the product and the file's own names (the
# target's name unless given).
function(probe_version_resource target description)
  set(VERSION_TARGET "${target}")
  if(ARGC GREATER 2)
    set(VERSION_TARGET "${ARGV2}")
  endif()
  set(VERSION_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()

function(probe_release_package)
  set(sums "${PROJECT_BINARY_DIR}/SHA256SUMS")
  add_custom_command(OUTPUT "${sums}"
    COMMAND "${CMAKE_COMMAND}" -D "OUTPUT=${sums}"
            -D "FILES=bin/brindle.exe=$<TARGET_FILE:brindle>|bin/fennel.exe=$<TARGET_FILE:fennel>|bin/inventory.exe=$<TARGET_FILE:gpu_inventory_tool>|bin/quarry.exe=$<TARGET_FILE:quarry>|bin/sorrel.exe=$<TARGET_FILE:sorrel>|bin/tansy.exe=$<TARGET_FILE:tansy>"
            -P "${PROJECT_SOURCE_DIR}/cmake/Sha256Sums.cmake"
    DEPENDS brindle fennel gpu_inventory_tool quarry sorrel tansy "${PROJECT_SOURCE_DIR}/cmake/Sha256Sums.cmake"
    COMMENT "Listing the SHA-256 of the executables" VERBATIM)
  add_custom_target(sha256sums ALL DEPENDS "${sums}")

  # The executables go to bin/ in the archive and in a `cmake --install` (inventory.exe by
  # inventory/, which also installs the library for programs that link it; the archive leaves
  # that out; inventory/ also installs the licence and notices in share/doc/gpu_inventory/).
  # The rest is the archive's alone: at a prefix's root it would be litter.
  install(TARGETS brindle fennel quarry sorrel tansy RUNTIME DESTINATION bin COMPONENT executables)
  # The documentation whole: the README links to docs/ and to the files beside it, and they to
  # each other (the archive test follows every link).
  install(FILES README.md CHANGELOG.md CONTRIBUTING.md LICENSE THIRD_PARTY_NOTICES "${sums}"
          DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/docs/" DESTINATION docs COMPONENT archive EXCLUDE_FROM_ALL
          FILES_MATCHING PATTERN "*.md" PATTERN "*.svg")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/schemas/" DESTINATION schemas COMPONENT archive EXCLUDE_FROM_ALL)

  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME gpu-probes)
  set(CPACK_PACKAGE_FILE_NAME "gpu-probes-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};gpu_probes;executables;/"
                                   "${PROJECT_BINARY_DIR};gpu_probes;archive;/")
  set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_BINARY_DIR}/package")
  # The ZIP writer stores access and change times of the staged files: the archive is written
  # again with the commit's time for every entry, in name order.
  set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/ReproducibleZip.cmake")
  set(CPACK_PROBES_SOURCE_DIR "${PROJECT_SOURCE_DIR}")  # for that script
  set(CPACK_PROBES_PYTHON "${Python3_EXECUTABLE}")
  include(CPack)

  # The Python package: a wheel holding the same executables and the schemas
  # (`cmake --build --preset windows --target wheel`), made reproducible as the archive is.
  set(wheel "${PROJECT_BINARY_DIR}/package/gpu_inventory-${PROJECT_VERSION}-py3-none-win_amd64.whl")
  file(GLOB python_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/python/*.py" "${PROJECT_SOURCE_DIR}/python/*.toml"
       "${PROJECT_SOURCE_DIR}/python/src/gpu_inventory/*.py" "${PROJECT_SOURCE_DIR}/python/src/gpu_inventory/py.typed")
  file(GLOB schemas CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/schemas/*.schema.json")
  # Built by Debian's python3-build and python3-hatchling, which the system's interpreter has; a
  # python3 found first on PATH (pyenv's, say) may not.
  set(wheel_python "${Python3_EXECUTABLE}")
  execute_process(COMMAND "${wheel_python}" -c "import build, hatchling" RESULT_VARIABLE missing
                  OUTPUT_QUIET ERROR_QUIET)
  if(missing AND EXISTS /usr/bin/python3)
    set(wheel_python /usr/bin/python3)
  endif()
  add_custom_command(OUTPUT "${wheel}"
    COMMAND "${wheel_python}" "${PROJECT_SOURCE_DIR}/python/build_wheel.py"
            --bin "$<TARGET_FILE_DIR:gpu_inventory_tool>" --schemas "${PROJECT_SOURCE_DIR}/schemas"
            --licence "${PROJECT_SOURCE_DIR}/LICENSE" --licence "${PROJECT_SOURCE_DIR}/THIRD_PARTY_NOTICES"
            --version "${PROJECT_VERSION}" --stage "${PROJECT_BINARY_DIR}/wheel-stage" --out "${PROJECT_BINARY_DIR}/package"
    DEPENDS brindle fennel gpu_inventory_tool quarry sorrel tansy ${python_sources} ${schemas}
            "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/THIRD_PARTY_NOTICES"
    COMMENT "Building the Python wheel" VERBATIM)
  add_custom_target(wheel DEPENDS "${wheel}")
endfunction()
