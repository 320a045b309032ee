# Hardening of the programs as Debian builds its packages: stack protector,
# read-only relocations bound at start, and the checked variants of the C
# library's string and memory functions. The sanitizer and fuzz builds keep
# their own instrumentation instead, and _FORTIFY_SOURCE needs optimisation,
# so only optimised builds without a sanitizer get it.
if(NOT (QMX_SANITIZE OR QMX_TSAN OR QMX_FUZZ))
  set(optimised $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
  add_compile_options(-fstack-protector-strong "$<${optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(-Wl,-z,relro,-z,now)
endif()
