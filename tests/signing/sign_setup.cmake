# quorin_sign_for_tests(TARGET): signs TARGET's program as soon as it is
# linked, by scripts/sign with the throwaway signer of make_signer.sh (made
# once in the build folder's signing/), so that every suite of the build runs
# a signed program. Called where the target is made (res/), since a
# post-build step belongs to the target's own folder. Without osslsigncode
# or openssl the program stays unsigned and the signing test is not added.
function(quorin_sign_for_tests target)
  find_program(QUORIN_OSSLSIGNCODE osslsigncode)
  find_program(QUORIN_OPENSSL openssl)
  if(NOT QUORIN_OSSLSIGNCODE OR NOT QUORIN_OPENSSL)
    message(WARNING "osslsigncode or openssl missing (scripts/install-deps installs them): ${target} stays unsigned")
    return()
  endif()
  set(signer ${CMAKE_BINARY_DIR}/signing)
  add_custom_command(OUTPUT ${signer}/signer.pfx ${signer}/ca.crt ${signer}/password
    COMMAND ${CMAKE_SOURCE_DIR}/tests/signing/make_signer.sh ${signer}
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/signing/make_signer.sh
    COMMENT "Making the tests' throwaway code-signing certificate")
  add_custom_target(test_signer DEPENDS ${signer}/signer.pfx)
  add_dependencies(${target} test_signer)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env QUORIN_SIGN_PASSWORD_FILE=${signer}/password
            ${CMAKE_SOURCE_DIR}/scripts/sign $<TARGET_FILE:${target}> $<TARGET_FILE:${target}> ${signer}/signer.pfx
    VERBATIM)
  set(QUORIN_TEST_SIGNER ${signer} PARENT_SCOPE)
endfunction()
