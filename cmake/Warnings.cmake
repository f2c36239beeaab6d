# Warnings for the project's own targets; third-party headers come in as system includes.
set(ORVAN_COMMON_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)

# The system's own logic: the strictest set.
function(orvan_warnings target)
  target_compile_options(${target} PRIVATE ${ORVAN_COMMON_WARNINGS} -Wold-style-cast
    -Wconversion -Wsign-conversion)
endfunction()

# Adapters use GLib/GTK/WebKit macros, which expand to C casts in our own code.
function(orvan_adapter_warnings target)
  target_compile_options(${target} PRIVATE ${ORVAN_COMMON_WARNINGS} -Wno-cast-function-type)
endfunction()
