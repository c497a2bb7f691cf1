# libmp3lame as the target qm_lame. Native builds take Debian's libmp3lame-dev; the Windows
# build cross-compiles Debian's lame source package once into the build folder
# (cmake/build-lame.sh), so a clean build folder on a fresh machine needs only tools/setup.sh.
if(TARGET qm_lame)
  return()
endif()

if(NOT WIN32)
  find_library(QUILLMAR_LAME_LIBRARY mp3lame)
  find_path(QUILLMAR_LAME_INCLUDE_DIR lame/lame.h)
  if(QUILLMAR_LAME_LIBRARY AND QUILLMAR_LAME_INCLUDE_DIR)
    add_library(qm_lame UNKNOWN IMPORTED GLOBAL)
    set_target_properties(qm_lame PROPERTIES
      IMPORTED_LOCATION ${QUILLMAR_LAME_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${QUILLMAR_LAME_INCLUDE_DIR})
  endif()
  return()
endif()

set(QUILLMAR_LAME_ROOT ${CMAKE_BINARY_DIR}/lame)
set(QUILLMAR_LAME_LIBRARY ${QUILLMAR_LAME_ROOT}/install/lib/libmp3lame.a)
set(QUILLMAR_LAME_HEADER ${QUILLMAR_LAME_ROOT}/install/include/lame/lame.h)
# An imported target may not name a folder that does not exist yet.
file(MAKE_DIRECTORY ${QUILLMAR_LAME_ROOT}/install/include)

add_custom_command(
  OUTPUT ${QUILLMAR_LAME_LIBRARY} ${QUILLMAR_LAME_HEADER}
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-lame.sh ${QUILLMAR_LAME_ROOT} x86_64-w64-mingw32
          ${CMAKE_C_COMPILER}
  COMMENT "Cross-building libmp3lame from Debian's lame source package"
  VERBATIM)
add_custom_target(qm_lame_build DEPENDS ${QUILLMAR_LAME_LIBRARY} ${QUILLMAR_LAME_HEADER})

add_library(qm_lame STATIC IMPORTED GLOBAL)
set_target_properties(qm_lame PROPERTIES
  IMPORTED_LOCATION ${QUILLMAR_LAME_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QUILLMAR_LAME_ROOT}/install/include)
add_dependencies(qm_lame qm_lame_build)
