# The installed program without the compilers' version stamps (.comment,
# from the C run-time's start files too), which a stripped program does not
# need: after the strip of an installation with stripping (cpack).
function(morvex_install_drop_comment target)
  if(UNIX AND NOT APPLE AND CMAKE_OBJCOPY)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\" COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT ${MORVEX_INSTALL_COMPONENT})
  endif()
endfunction()
# Compresses a file as Debian wants (best compression, no name or time
# stamp in the header) when the target ALL builds.
function(morvex_gzip_file target input output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${input} ${output}
    DEPENDS ${input}
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
