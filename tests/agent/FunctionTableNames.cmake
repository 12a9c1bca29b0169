# function_table_names(HEADER STRUCT VARIABLE): the slot names of a JNI or JVMTI function table,
# in declaration order, as string literals for a C++ initializer list. The scripted double names
# an unscripted function by its slot.
function(function_table_names header struct variable)
  file(READ ${header} text)
  string(REGEX MATCH "struct ${struct} {[^}]*}" body "${text}")
  if(NOT body)
    message(FATAL_ERROR "no struct ${struct} in ${header}")
  endif()
  string(REGEX MATCHALL "\\(JNICALL \\*[A-Za-z_0-9]+\\)|void \\*reserved[0-9]+" members "${body}")
  set(names "")
  foreach(member IN LISTS members)
    string(REGEX REPLACE ".*\\*([A-Za-z_0-9]+).*" "\\1" name "${member}")
    string(APPEND names "\"${name}\", ")
  endforeach()
  set(${variable} "${names}" PARENT_SCOPE)
endfunction()
