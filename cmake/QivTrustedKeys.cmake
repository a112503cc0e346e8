# Checks a list of Ed25519 public keys (base64 of 32 bytes; spaces, commas or semicolons between
# them) and sets VAR to the keys separated by single spaces, as the trusted-keys unit reads them.
function(qiv_trusted_keys_definition var keys)
  string(REGEX REPLACE "[ ,;\t\n]+" ";" list "${keys}")
  list(FILTER list EXCLUDE REGEX "^$")
  foreach(key IN LISTS list)
    # CMake's regular expressions know no {n}: the length is checked on its own.
    string(LENGTH "${key}" length)
    if(NOT key MATCHES "^[A-Za-z0-9+/]+=$" OR NOT length EQUAL 44)
      message(FATAL_ERROR "QIV_TRUSTED_KEYS: \"${key}\" is not the base64 of a 32-byte Ed25519 public key")
    endif()
  endforeach()
  list(JOIN list " " joined)
  set(${var} "${joined}" PARENT_SCOPE)
endfunction()
