# Header folders that the build takes from Debian's packages. The mingw compiler must
# never see the host's whole /usr/include (its libc headers would shadow mingw's), so
# the folders it needs are linked into one folder of the build tree and only that
# folder is put on its include path.
set(SYSTEM_HEADER_ROOT "/usr/include" CACHE PATH "Where Debian's header packages install")
set(STAGED_HEADERS "${CMAKE_BINARY_DIR}/system-headers")

set(_header_folders vulkan vk_video CL directx nlohmann)
file(MAKE_DIRECTORY "${STAGED_HEADERS}")
foreach(folder IN LISTS _header_folders)
  if(NOT IS_DIRECTORY "${SYSTEM_HEADER_ROOT}/${folder}")
    message(FATAL_ERROR "Missing ${SYSTEM_HEADER_ROOT}/${folder}: run scripts/install-deps.sh")
  endif()
  file(CREATE_LINK "${SYSTEM_HEADER_ROOT}/${folder}" "${STAGED_HEADERS}/${folder}" SYMBOLIC)
endforeach()

# Vulkan, OpenCL, DXCore and the JSON parser, without the rest of /usr/include.
add_library(system_headers INTERFACE)
if(CMAKE_CROSSCOMPILING)
  target_include_directories(system_headers SYSTEM INTERFACE "${STAGED_HEADERS}")
endif()
# OpenCL is loaded at run time; the headers only give its types and constants.
target_compile_definitions(system_headers INTERFACE CL_TARGET_OPENCL_VERSION=300)
