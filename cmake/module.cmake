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
  target_compile_options(${target} PRIVATE ${QUORIN_PROGRAM_FLAGS} -flto -include ${CMAKE_SOURCE_DIR}/src/support/direct_calls.h)
  target_link_libraries(${target} PRIVATE setup_core)
  # Terminal Server aware: on a Remote Desktop host the program is given the
  # real Windows directory, not a per-user one.
  target_link_options(${target} PRIVATE ${QUORIN_PROGRAM_FLAGS} -flto=1 -nostartfiles -Wl,-T,${CMAKE_BINARY_DIR}/setup.ld -Wl,--tsaware)
  # Relinked when the steps after linking change, too.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/setup.ld
               ${CMAKE_SOURCE_DIR}/cmake/drop_lookup_tables.py ${CMAKE_SOURCE_DIR}/cmake/pack_headers.py)
  # Without the import lookup tables, which only a bound program needs
  # (cmake/drop_lookup_tables.py says why), and with the headers in one
  # 512-byte block instead of two (cmake/pack_headers.py says how), before
  # anything signs the program.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/drop_lookup_tables.py $<TARGET_FILE:${target}>
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/pack_headers.py $<TARGET_FILE:${target}>)
endfunction()

# quorin_add_package(MODULE_TARGET DESCRIPTION OUTPUT_DIR NAME [EXCLUDE_FROM_ALL])
# Builds OUTPUT_DIR/quorin-NAME.msi, the module's Windows Installer package,
# with wixl (and msibuild, both of msitools) from the .wxs that
# res/make_package.py generates from DESCRIPTION: the module's setup.exe
# (MODULE_TARGET) and the custom action (package/). Without them no package
# is built, and the configure step says so once. A 32-bit build makes a 32-bit package, a 64-bit build a 64-bit one.
find_program(QUORIN_WIXL wixl)
find_program(QUORIN_MSIBUILD msibuild)
if(NOT QUORIN_WIXL OR NOT QUORIN_MSIBUILD)
  message(STATUS "wixl or msibuild not found (scripts/install-deps installs them): no module packages")
  set(QUORIN_WIXL "")
endif()
function(quorin_add_package module_target description output_dir name)
  if(NOT QUORIN_WIXL)
    return()
  endif()
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(arch x64)
  else()
    set(arch x86)
  endif()
  set(tool ${CMAKE_SOURCE_DIR}/res/make_package.py)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/package_${name})
  set(msi ${output_dir}/quorin-${name}.msi)
  # The program's own file as the build writes it: a signed one where the
  # build signs it in place after linking.
  add_custom_command(OUTPUT ${msi}
    COMMAND ${Python3_EXECUTABLE} ${tool} ${description} $<TARGET_FILE:${module_target}>
            $<TARGET_FILE:package_action> ${arch} ${work} ${msi}
    DEPENDS ${tool} ${CMAKE_SOURCE_DIR}/res/make_module.py ${CMAKE_SOURCE_DIR}/res/program_texts.ini ${description}
            ${module_target} package_action
    BYPRODUCTS ${work}/package.wxs ${work}/module.ico ${work}/setup.exe
    COMMENT "Package ${msi}"
    VERBATIM)
  set(all ALL)
  if(ARGC GREATER 4 AND ARGV4 STREQUAL "EXCLUDE_FROM_ALL")
    set(all "")
  endif()
  add_custom_target(package_${name} ${all} DEPENDS ${msi})
endfunction()
