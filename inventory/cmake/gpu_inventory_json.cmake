# nlohmann-json (header-only), found the same way where the library is built and where a program
# links the installed package: the target nlohmann_json::nlohmann_json when the program has one,
# else the folder INVENTORY_JSON_INCLUDE_DIR, else nlohmann/json.hpp looked for. A cross compiler
# must not see the build host's whole include folder (its C library's headers would shadow the
# target's), so a header found only there is reached through a folder of its own, under
# <staging>, that holds just nlohmann/.
#
# gpu_inventory_json(<interface target> <staging folder> <result variable>): gives the target
# what it takes to include <nlohmann/json.hpp>; the variable is empty, or says what is missing.
function(gpu_inventory_json target staging result)
  set(${result} "" PARENT_SCOPE)
  if(TARGET nlohmann_json::nlohmann_json)
    set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_LIBRARIES nlohmann_json::nlohmann_json)
    return()
  endif()
  set(folder "${INVENTORY_JSON_INCLUDE_DIR}")
  if(NOT folder)
    find_path(INVENTORY_JSON_FOUND_DIR nlohmann/json.hpp)
    set(folder "${INVENTORY_JSON_FOUND_DIR}")
  endif()
  if(NOT folder AND CMAKE_CROSSCOMPILING)
    find_path(INVENTORY_JSON_HOST_DIR nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH)
    if(INVENTORY_JSON_HOST_DIR)
      file(MAKE_DIRECTORY "${staging}")
      file(CREATE_LINK "${INVENTORY_JSON_HOST_DIR}/nlohmann" "${staging}/nlohmann" SYMBOLIC)
      set(folder "${staging}")
    endif()
  endif()
  if(NOT folder)
    set(${result} "nlohmann/json.hpp not found: install nlohmann-json (Debian: nlohmann-json3-dev), or set INVENTORY_JSON_INCLUDE_DIR, or provide the target nlohmann_json::nlohmann_json" PARENT_SCOPE)
    return()
  endif()
  set_property(TARGET ${target} APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${folder}")
  set_property(TARGET ${target} APPEND PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${folder}")
endfunction()
