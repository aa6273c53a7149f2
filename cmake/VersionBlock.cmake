# Every program and shared library the project builds carries a version
# block: a small text record in the ELF section ".sitowiak.version" that the
# platform layer reads back from any file path (see platform/core/VersionBlock.h).
string(REPLACE "." ";" _sw_parts "${SITOWIAK_FILE_VERSION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/version_block.cpp.in
               ${CMAKE_BINARY_DIR}/generated/version_block.cpp @ONLY)

function(sitowiak_add_version_block target)
  # Test targets do not exist when SITOWIAK_TESTS is off.
  if(NOT TARGET ${target})
    return()
  endif()
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated/version_block.cpp)
endfunction()
