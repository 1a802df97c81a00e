# find_package(kvUninstall) for programs built on the toolkit. kvUninstall::toolkit gives the
# headers, the delay-load import library of kvUninstall.exe's exports and the loader that binds
# it; kvUninstall.exe (and zlib1.dll) must lie beside the program that runs.
get_filename_component(_kv_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET kvUninstall::toolkit)
  add_library(kvUninstall::toolkit INTERFACE IMPORTED)
  set_target_properties(kvUninstall::toolkit PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_kv_root}/include/kvUninstall"
    INTERFACE_COMPILE_DEFINITIONS "UNICODE;_UNICODE;NOMINMAX"
    # The loader holds the hook the delay-load helper calls: nothing else refers to it, so the
    # link is told to take it.
    INTERFACE_LINK_OPTIONS "-Wl,-u,___pfnDliNotifyHook2"
    INTERFACE_LINK_LIBRARIES "${_kv_root}/lib/libkvUninstallLoader.a;${_kv_root}/lib/libkvUninstall.a;gdiplus;ole32;shell32;user32;gdi32")
endif()
set(kvUninstall_PROGRAM "${_kv_root}/bin/kvUninstall.exe")
set(kvUninstall_ZLIB "${_kv_root}/bin/zlib1.dll")
set(kvUninstall_NSIS_INCLUDE "${_kv_root}/nsis/kvUninstall.nsh")
unset(_kv_root)
