# The package gpu_inventory: the target gpu_inventory::inventory, the library that runs the GPU
# probes and joins their answers. What it depends on is found again here, on the side of the
# program that links it, as the library's own build found it.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/gpu_inventory_json.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/gpu_inventory-json-version.cmake")
gpu_inventory_find_json(_gpu_inventory_json "${CMAKE_BINARY_DIR}/gpu_inventory-json-headers")
# The library's public types hold nlohmann-json's: a program must compile them with the same
# version the library was built with (another one fails to link, or before 3.11 links wrongly).
if(NOT _gpu_inventory_json_MISSING AND gpu_inventory_json_built_with AND _gpu_inventory_json_VERSION
   AND NOT _gpu_inventory_json_VERSION STREQUAL gpu_inventory_json_built_with)
  set(_gpu_inventory_json_MISSING "the library was built with nlohmann-json ${gpu_inventory_json_built_with}, and this build finds ${_gpu_inventory_json_VERSION}: set INVENTORY_JSON_INCLUDE_DIR to a folder with ${gpu_inventory_json_built_with}, or build the library with yours (FetchContent or add_subdirectory)")
endif()
if(_gpu_inventory_json_MISSING)
  set(gpu_inventory_FOUND FALSE)
  set(gpu_inventory_NOT_FOUND_MESSAGE "${_gpu_inventory_json_MISSING}")
  return()
endif()
if(NOT TARGET gpu_inventory::json)
  add_library(gpu_inventory::json INTERFACE IMPORTED)
  gpu_inventory_use_json(gpu_inventory::json _gpu_inventory_json)
endif()
include("${CMAKE_CURRENT_LIST_DIR}/gpu_inventory-targets.cmake")
