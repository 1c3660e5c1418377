# GPU_INVENTORY_VERSION: the version written in the library's public header, the one place
# that holds it (the project around the library takes it from there too).
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../include/gpu_inventory/version.h" _gpu_inventory_version_line
     REGEX "libraryVersion = \"[0-9]+\\.[0-9]+\\.[0-9]+\";")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" GPU_INVENTORY_VERSION "${_gpu_inventory_version_line}")
if(NOT GPU_INVENTORY_VERSION)
  message(FATAL_ERROR "No libraryVersion in ${CMAKE_CURRENT_LIST_DIR}/../include/gpu_inventory/version.h")
endif()
unset(_gpu_inventory_version_line)
# A new version in the header configures the build again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${CMAKE_CURRENT_LIST_DIR}/../include/gpu_inventory/version.h")
