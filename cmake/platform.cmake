# Platform files: a source named *_posix.cc is built only for Linux, one named
# *_win32.cc only for Windows; every other source is built for both.
function(zivadiduz_platform_sources list_var)
  if(WIN32)
    list(FILTER ${list_var} EXCLUDE REGEX "_posix\\.cc$")
  else()
    list(FILTER ${list_var} EXCLUDE REGEX "_win32\\.cc$")
  endif()
  set(${list_var} ${${list_var}} PARENT_SCOPE)
endfunction()
