# Warnings are errors for every target of the project (not for GoogleTest itself).
function(probe_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         -Wsign-conversion -Wformat -Wformat-security -Werror)
endfunction()
