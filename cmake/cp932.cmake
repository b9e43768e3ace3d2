# Turns a header written in UTF-8 into the same header in code page 932,
# the core's own, with every byte beyond ASCII spelled as an escape, so
# that no compiler re-encodes a literal and no trail byte 0x5C ("\") of a
# double-byte character is read as the start of an escape:
#
#   cmake -DIN=texts.h.in -DOUT=texts.h -P cp932.cmake
#
# The conversion is the C library's (iconv, code page "CP932"), which
# agrees with Windows on every character the texts use; a character that
# code page 932 cannot hold is an error.
find_program(MOX32_ICONV iconv)
if(NOT MOX32_ICONV)
  message(FATAL_ERROR "iconv is needed to convert ${IN} into code page 932")
endif()
get_filename_component(outdir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${outdir})
execute_process(COMMAND ${MOX32_ICONV} -f UTF-8 -t CP932 INPUT_FILE ${IN} OUTPUT_FILE ${OUT}.tmp
                RESULT_VARIABLE failed ERROR_VARIABLE why)
if(failed)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "${IN} has no code page 932 form: ${why}")
endif()
file(READ ${OUT}.tmp hex HEX)
file(REMOVE ${OUT}.tmp)
string(REGEX MATCHALL ".." bytes "${hex}")

get_filename_component(from ${IN} NAME)
set(text "// Made by CMake from ${from} (edit that file), in code page 932.\n")
set(trail 0)   # the byte is the second of a double-byte character
set(escaped 0) # the last thing written is an escape
foreach(b IN LISTS bytes)
  math(EXPR v "0x${b}")
  if(trail OR v GREATER_EQUAL 128)
    string(APPEND text "\\x${b}")
    set(escaped 1)
    # 0x81..0x9F and 0xE0..0xFC lead a double-byte character.
    if(NOT trail AND ((v GREATER_EQUAL 129 AND v LESS_EQUAL 159) OR
                      (v GREATER_EQUAL 224 AND v LESS_EQUAL 252)))
      set(trail 1)
    else()
      set(trail 0)
    endif()
  else()
    string(ASCII ${v} c)
    # A hex digit right after an escape would be read as part of it.
    if(escaped AND c MATCHES "[0-9A-Fa-f]")
      string(APPEND text "\"\"")
    endif()
    string(APPEND text "${c}")
    set(escaped 0)
  endif()
endforeach()
# An unchanged header keeps its time, so that nothing is compiled again.
if(EXISTS ${OUT})
  file(READ ${OUT} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${OUT} "${text}")
