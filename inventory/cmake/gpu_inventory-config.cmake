# The package gpu_inventory: the target gpu_inventory::inventory, the library that runs the GPU
# probes and joins their answers. What it depends on is found again here, on the side of the
# program that links it, as the library's own build found it.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
if(NOT TARGET gpu_inventory::json)
  include("${CMAKE_CURRENT_LIST_DIR}/gpu_inventory_json.cmake")
  add_library(gpu_inventory::json INTERFACE IMPORTED)
  gpu_inventory_json(gpu_inventory::json "${CMAKE_BINARY_DIR}/gpu_inventory-json-headers" _gpu_inventory_missing)
  if(_gpu_inventory_missing)
    set(gpu_inventory_FOUND FALSE)
    set(gpu_inventory_NOT_FOUND_MESSAGE "${_gpu_inventory_missing}")
    return()
  endif()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/gpu_inventory-targets.cmake")
