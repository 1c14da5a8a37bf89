# Undecorated stdcall exports of a Windows DLL. On i686 the .def file lists
# the decorated names (UPK4_Open@20) and --kill-at drops the "@n", so the DLL
# exports exactly the plain names; on x86_64 there is no decoration. The DLL
# keeps its plain name (no "lib" prefix).
#   upk_windows_exports(target "UPK4_Open@20;UPK4_Close@4;...")
function(upk_windows_exports target exports)
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  set(text "EXPORTS\n")
  foreach(export ${exports})
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "@[0-9]+$" "" export "${export}")
    endif()
    string(APPEND text "  ${export}\n")
  endforeach()
  file(WRITE "${def}" "${text}")
  target_sources(${target} PRIVATE "${def}")
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
endfunction()

# The import library that callers link: made by dlltool -k from the same
# .def file, so that a caller's reference to UPK4_Open@20 binds to the
# undecorated export. Callers link ${target}_import. Its members and
# symbols are named the same in every build: a fixed temporary prefix (else
# dlltool takes the process number) and names relative to the build
# directory (dlltool names symbols after the library's path).
function(upk_windows_import_library target)
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  set(implib "${CMAKE_CURRENT_BINARY_DIR}/lib${target}_import.a")
  add_custom_command(OUTPUT "${implib}"
    COMMAND ${CMAKE_DLLTOOL} -d ${target}.def -D ${target}.dll -l lib${target}_import.a -k
            --temp-prefix ${target}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DEPENDS "${def}" VERBATIM)
  add_custom_target(${target}_import_lib DEPENDS "${implib}" ${target})
  add_library(${target}_import INTERFACE)
  target_link_libraries(${target}_import INTERFACE "${implib}")
  add_dependencies(${target}_import ${target}_import_lib)
endfunction()
