# Writes OUTPUT with one "<sha256>  <name>" line per NAME=PATH in FILES (separated by "|"),
# as sha256sum -c reads them.
set(lines "")
string(REPLACE "|" ";" entries "${FILES}")
foreach(entry IN LISTS entries)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  file(SHA256 "${path}" hash)
  string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE "${OUTPUT}" "${lines}")
