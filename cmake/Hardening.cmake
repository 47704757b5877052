# Hardened code generation for optimised builds (Release, RelWithDebInfo): the
# flags Debian uses for its own packages, plus level-3 fortification and the
# libstdc++ bounds checks. Debug builds stay as they are, because
# _FORTIFY_SOURCE does nothing without optimisation and only warns about it.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

set(_tavlo_optimised "$<CONFIG:Release,RelWithDebInfo>")
add_compile_options(
  "$<${_tavlo_optimised}:-O2>"
  # Some toolchains predefine another level; ours must win without a warning.
  "$<${_tavlo_optimised}:-U_FORTIFY_SOURCE>"
  "$<${_tavlo_optimised}:-D_FORTIFY_SOURCE=3>"
  "$<${_tavlo_optimised}:-D_GLIBCXX_ASSERTIONS>"
  "$<${_tavlo_optimised}:-fstack-protector-strong>"
  "$<${_tavlo_optimised}:-fPIE>"
)
add_link_options(
  "$<$<AND:${_tavlo_optimised},$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>>:-pie>"
  "$<${_tavlo_optimised}:LINKER:-z,relro,-z,now>"
)
unset(_tavlo_optimised)
