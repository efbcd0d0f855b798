# The same commit gives the same Windows programs: the linker writes no time
# stamp into the PE header (the C run-time and Qt DLLs carry fixed ones).
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
