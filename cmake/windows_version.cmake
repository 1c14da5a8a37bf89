# upk_windows_version(TARGET FILENAME DESCRIPTION [STREAMS]): a version
# resource for a Windows binary of the release set (version, copyright and the
# MIT licence), which is also stripped with its symbols kept beside it, and
# gets the lean replacements of the C++ runtime's terminate handler and
# throwing functions (platform/win32/); nothing elsewhere. STREAMS: the binary
# uses the runtime's file streams, which bring the runtime's error categories
# and with them its own function for system errors.
function(upk_windows_version target filename description)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 3 arg "STREAMS" "" "")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(UPK_RC_FILETYPE VFT_DLL)
  else()
    set(UPK_RC_FILETYPE VFT_APP)
  endif()
  set(UPK_RC_FILENAME "${filename}")
  set(UPK_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  # In the binary itself, so that the runtime's own are never linked.
  target_sources(${target} PRIVATE ${rc} ${PROJECT_SOURCE_DIR}/platform/win32/terminate_handler.cpp
                 ${PROJECT_SOURCE_DIR}/platform/win32/runtime_throws.cpp)
  if(NOT arg_STREAMS)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/runtime_system_error.cpp)
  endif()
  upk_strip_beside(${target})
endfunction()

# upk_strip_beside(TARGET): outside Debug builds of the Windows set, the
# linked binary is stripped and its debug symbols go to TARGET_FILE.debug
# beside it, for crash analysis (give it to the debugger with the binary).
# No .gnu_debuglink: its checksum of the symbol file would carry every
# difference of the debug information into the released binary.
function(upk_strip_beside target)
  if(NOT WIN32)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "$<$<NOT:$<CONFIG:Debug>>:${CMAKE_OBJCOPY};--only-keep-debug;$<TARGET_FILE:${target}>;$<TARGET_FILE:${target}>.debug>"
    COMMAND "$<$<NOT:$<CONFIG:Debug>>:${CMAKE_STRIP};--strip-all;$<TARGET_FILE:${target}>>"
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()

# upk_win32_thread_runtime(TARGET): TARGET links the GCC runtime built for
# Windows' own threads (the "win32" thread model: critical sections and
# TlsAlloc) instead of the posix one, which brings winpthreads (32 to 35 KB
# of each i686 binary) for the exception runtime's per-thread state and
# locks. The two runtimes share every layout the C++ ABI fixes; what differs
# is only how they lock. So TARGET's code must use no standard thread,
# mutex, condition variable or call_once (their header code calls
# winpthreads), only those of platform/threads.h; tests/windows/check_pe.sh
# checks that no winpthreads is linked.
function(upk_win32_thread_runtime target)
  if(NOT WIN32)
    return()
  endif()
  if(NOT UPK_WIN32_THREAD_RUNTIME)
    string(REPLACE "-posix" "-win32" compiler "${CMAKE_CXX_COMPILER}")
    execute_process(COMMAND ${compiler} -print-file-name=libstdc++.a
                    OUTPUT_VARIABLE library OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT IS_ABSOLUTE "${library}")
      message(FATAL_ERROR "${compiler} and its runtime are missing: scripts/deps-windows.sh installs them")
    endif()
    get_filename_component(directory "${library}" DIRECTORY)
    set(UPK_WIN32_THREAD_RUNTIME "${directory}" CACHE INTERNAL "GCC runtime of the win32 thread model")
  endif()
  # Searched before the compiler's own directory for libstdc++, libgcc and
  # libgcc_eh; the start files are the same in both.
  target_link_directories(${target} BEFORE PRIVATE ${UPK_WIN32_THREAD_RUNTIME})
endfunction()
