# quorin_add_module(TARGET DESCRIPTION RESOURCE_DIR OUTPUT_DIR [EXCLUDE_FROM_ALL])
# Builds OUTPUT_DIR/setup.exe for the module that DESCRIPTION (modules/*.ini)
# describes: res/make_module.py checks the description and writes module.rc,
# quorin.zip and setup.ico into RESOURCE_DIR; the program's code is the same
# setup_core library for every module.
# The program's linker script: the linker's default with the import tables
# in .rdata (cmake/merge_imports.py says why), made once per build folder
# as setup.ld; every module's program links with it.
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/merge_imports.py ${CMAKE_LINKER}
                        ${CMAKE_BINARY_DIR}/setup.ld COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/merge_imports.py)

function(quorin_add_module target description resource_dir output_dir)
  set(tool ${CMAKE_SOURCE_DIR}/res/make_module.py)
  set(rc ${resource_dir}/module.rc)
  add_custom_command(OUTPUT ${rc}
    BYPRODUCTS ${resource_dir}/quorin.zip ${resource_dir}/quorin.crc ${resource_dir}/setup.ico
               ${resource_dir}/setup.manifest
    COMMAND ${Python3_EXECUTABLE} ${tool} ${description} ${resource_dir} --depfile ${rc}.d
    DEPENDS ${tool} ${CMAKE_SOURCE_DIR}/res/make_payload.py ${CMAKE_SOURCE_DIR}/res/make_icons.py ${description}
    DEPFILE ${rc}.d
    COMMENT "Module ${description}")
  # module.rc keeps its time when only the payload, the icon or the manifest
  # changed, so the resource object depends on those as well.
  set_source_files_properties(${rc} PROPERTIES GENERATED TRUE OBJECT_DEPENDS
    "${resource_dir}/quorin.zip;${resource_dir}/quorin.crc;${resource_dir}/setup.ico;${resource_dir}/setup.manifest;${CMAKE_SOURCE_DIR}/res/setup.rc;${CMAKE_SOURCE_DIR}/res/setup_dialog.rc")

  set(exclude "")
  if(ARGC GREATER 4 AND ARGV4 STREQUAL "EXCLUDE_FROM_ALL")
    set(exclude EXCLUDE_FROM_ALL)
  else()
    # Every module of every build is checked as a file (tests/pe).
    set_property(GLOBAL APPEND PROPERTY QUORIN_MODULES "${target}|${description}|${resource_dir}")
  endif()
  add_executable(${target} WIN32 ${exclude} ${CMAKE_SOURCE_DIR}/src/run/main.cpp ${rc})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME setup RUNTIME_OUTPUT_DIRECTORY ${output_dir})
  target_include_directories(${target} PRIVATE ${resource_dir} ${CMAKE_SOURCE_DIR}/res)
  target_compile_options(${target} PRIVATE ${QUORIN_PROGRAM_FLAGS})
  target_link_libraries(${target} PRIVATE setup_core)
  # Terminal Server aware: on a Remote Desktop host the program is given the
  # real Windows directory, not a per-user one.
  target_link_options(${target} PRIVATE -nostartfiles -Wl,-T,${CMAKE_BINARY_DIR}/setup.ld -Wl,--tsaware)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/setup.ld)
  # The headers in one 512-byte block instead of two (cmake/pack_headers.py
  # says how), before anything signs the program.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/pack_headers.py $<TARGET_FILE:${target}>)
endfunction()
