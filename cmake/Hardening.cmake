# The programs parse image files from anywhere, so the optimised builds get Debian's hardening flags: fortified
# libc calls, stack canaries, position-independent programs and read-only relocations resolved at start-up.
# The sanitizer and fuzz builds go without them: the sanitizers replace the same libc calls and guard the stack
# themselves, and _FORTIFY_SOURCE hides faults from AddressSanitizer.
option(QUENDRIX_HARDENING "Build Release and RelWithDebInfo with Debian's hardening flags" ON)
set(QUENDRIX_HARDENED 0)  # a generator expression: 1 where the flags apply, for the package test
if(QUENDRIX_HARDENING AND NOT QUENDRIX_SANITIZE AND NOT QUENDRIX_TSAN AND NOT QUENDRIX_FUZZ)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  set(optimised "$<CONFIG:Release,RelWithDebInfo>")
  set(QUENDRIX_HARDENED "${optimised}")
  add_compile_definitions("$<${optimised}:_FORTIFY_SOURCE=2>")
  add_compile_options("$<${optimised}:-fstack-protector-strong>")
  # Where the compiler has them: stack pages probed one by one, and (x86) branch targets marked for the CPU's
  # control-flow protection. The latter takes effect only once the C library's start files carry the mark too,
  # which Debian 12's do not; until then the linker leaves the program unmarked and the flag costs nothing.
  include(CheckCXXCompilerFlag)
  foreach(flag -fcf-protection -fstack-clash-protection)
    string(MAKE_C_IDENTIFIER "QUENDRIX_HAS${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      add_compile_options("$<${optimised}:${flag}>")
    endif()
  endforeach()
  add_link_options("$<${optimised}:LINKER:-z,relro,-z,now>")
endif()
