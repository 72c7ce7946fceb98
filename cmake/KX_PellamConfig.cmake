# find_package(KX_Pellam) gives two imported targets:
#   KX::Pellam   KX_Pellam.dll and its header KX_Pellam.h
#   KX::Brindel  KX_Brindel.dll (which KX_Pellam.dll imports) and KX_Brindel.h
# Linking KX::Pellam brings KX::Brindel along, so $<TARGET_RUNTIME_DLLS:app>
# names both DLLs a program must ship with.
get_filename_component(_kx_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

# MSVC-family linkers read the COFF import libraries; GNU ld the .dll.a ones.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_kx_implib_pattern "lib/KX_@.lib")
else()
  set(_kx_implib_pattern "lib/libKX_@.dll.a")
endif()

foreach(_kx_name Brindel Pellam)
  string(REPLACE "@" "${_kx_name}" _kx_implib "${_kx_implib_pattern}")
  foreach(_kx_file "bin/KX_${_kx_name}.dll" "${_kx_implib}" "include/KX_${_kx_name}.h")
    if(NOT EXISTS "${_kx_prefix}/${_kx_file}")
      set(KX_Pellam_FOUND FALSE)
      set(KX_Pellam_NOT_FOUND_MESSAGE "missing ${_kx_prefix}/${_kx_file}")
      return()
    endif()
  endforeach()
  if(NOT TARGET KX::${_kx_name})
    add_library(KX::${_kx_name} SHARED IMPORTED)
    set_target_properties(KX::${_kx_name} PROPERTIES
      IMPORTED_LOCATION "${_kx_prefix}/bin/KX_${_kx_name}.dll"
      IMPORTED_IMPLIB "${_kx_prefix}/${_kx_implib}"
      INTERFACE_INCLUDE_DIRECTORIES "${_kx_prefix}/include")
  endif()
endforeach()
set_property(TARGET KX::Pellam PROPERTY INTERFACE_LINK_LIBRARIES KX::Brindel)

unset(_kx_prefix)
unset(_kx_implib_pattern)
unset(_kx_implib)
unset(_kx_name)
unset(_kx_file)
