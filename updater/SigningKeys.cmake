# The public keys a Fernup.exe carries: the contents of .pub files that
# `fernup-pack keygen` wrote, 128 hexadecimal characters each, ";" between
# them. A build without keys checks no signatures at all, so that build must
# only ever come from leaving the option out, never from a value that went
# wrong on the way (`$(cat missing.pub)` gives an empty one).

# fernup_check_signing_keys(keys what): stops the configuration unless keys
# holds one or more keys; what says where they came from.
function(fernup_check_signing_keys keys what)
  if("${keys}" STREQUAL "")
    message(FATAL_ERROR "${what} is set but empty, which would build a Fernup.exe that checks "
      "no signatures. Give it the contents of your .pub file (fernup-pack keygen wrote it; "
      "several keys separated by \";\"), or leave it out for a build without keys: "
      "-UFERNUP_SIGNING_KEYS, or a new build folder.")
  endif()
  foreach(key IN LISTS keys)
    string(STRIP "${key}" key)
    if(NOT key MATCHES "^[0-9A-Fa-f]+$")
      message(FATAL_ERROR "${what}: signing key '${key}' is not hexadecimal")
    endif()
    string(LENGTH "${key}" length)
    if(NOT length EQUAL 128)
      message(FATAL_ERROR "${what}: signing key '${key}' is not 128 hexadecimal characters")
    endif()
  endforeach()
endfunction()

# fernup_signing_keys(out): the keys of the cache entry FERNUP_SIGNING_KEYS,
# checked, into out; empty when the entry does not exist. No default is
# declared: an entry with an empty default could not be told from an empty
# -D, and a -D on an existing entry would go unnoticed.
function(fernup_signing_keys out)
  # Build folders configured before kept an empty entry of this description
  # as the default: no keys. A -D since would have replaced the description.
  set(old_default
    "Public keys whose signatures Fernup.exe requires (fernup-pack keygen writes them); empty: no signatures checked")
  if(DEFINED CACHE{FERNUP_SIGNING_KEYS})
    get_property(description CACHE FERNUP_SIGNING_KEYS PROPERTY HELPSTRING)
    if("$CACHE{FERNUP_SIGNING_KEYS}" STREQUAL "" AND description STREQUAL old_default)
      unset(FERNUP_SIGNING_KEYS CACHE)
    endif()
  endif()
  if(NOT DEFINED CACHE{FERNUP_SIGNING_KEYS})
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  fernup_check_signing_keys("$CACHE{FERNUP_SIGNING_KEYS}" FERNUP_SIGNING_KEYS)
  set_property(CACHE FERNUP_SIGNING_KEYS PROPERTY TYPE STRING)
  set_property(CACHE FERNUP_SIGNING_KEYS PROPERTY HELPSTRING
    "Public keys whose signatures Fernup.exe requires (a .pub file's contents; \";\" between keys). Remove the entry for a build without keys")
  set(${out} "$CACHE{FERNUP_SIGNING_KEYS}" PARENT_SCOPE)
endfunction()
