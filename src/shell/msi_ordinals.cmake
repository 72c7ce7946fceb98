# Builds the import library through which KX_Pellam binds its Windows
# Installer queries by ordinal, from src/shell/msi_ordinals.def, and links it.
set(KX_MSI_DEF_SOURCE ${CMAKE_SOURCE_DIR}/src/shell/msi_ordinals.def)
set(KX_MSI_DEF ${CMAKE_BINARY_DIR}/msi_ordinals/msi.def)
set(KX_MSI_IMPLIB ${CMAKE_BINARY_DIR}/msi_ordinals/libkx_msi_ordinals.a)
file(READ ${KX_MSI_DEF_SOURCE} kx_msi_def)
set(kx_msi_dlltool_flags)
if(KX_64BIT)
  string(REGEX REPLACE "@[0-9]+ @" " @" kx_msi_def "${kx_msi_def}")
else()
  set(kx_msi_dlltool_flags -k)
endif()
file(CONFIGURE OUTPUT ${KX_MSI_DEF} CONTENT "${kx_msi_def}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KX_MSI_DEF_SOURCE})
add_custom_command(OUTPUT ${KX_MSI_IMPLIB}
  COMMAND ${KX_TRIPLET}-dlltool ${kx_msi_dlltool_flags} -d ${KX_MSI_DEF} -D msi.dll -l ${KX_MSI_IMPLIB}
  DEPENDS ${KX_MSI_DEF}
  VERBATIM)
add_custom_target(kx_msi_ordinals DEPENDS ${KX_MSI_IMPLIB})
add_dependencies(KX_Pellam kx_msi_ordinals)
target_link_libraries(KX_Pellam PRIVATE ${KX_MSI_IMPLIB})
