# fernup_seen_path(OUT PATH): PATH as the tests of this build see it. Windows
# test programs run under Wine, which shows the host's root as drive Z:.
function(fernup_seen_path out path)
  if(WIN32)
    string(REPLACE "/" "\\\\" path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
