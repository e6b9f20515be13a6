# The tool writes every text in Shift_JIS (CP932), whatever compiler builds it.
#
# The sources keep those texts as byte escapes with the text beside them in a
# comment ("\x81\x7E" /* × */; tools/sjis-literals.py writes and checks them),
# which every C++ compiler turns into the same bytes. Sources that still hold
# UTF-8 text literals need a compiler that re-encodes them
# (-fexec-charset=CP932, GCC): VESTRUN_EXEC_CHARSET decides whether src/ gets
# that flag.
#   AUTO  on while a file of src/ still holds non-ASCII text in a literal
#   ON    always (the compiler must be able to)
#   OFF   never: src/ must hold its texts as byte escapes
# The tests and benchmarks keep their expected texts as UTF-8 literals and
# always need the flag.
#
# Provides: vestrun_src_charset (interface library with the flag when src/
# needs it), vestrun_sjis (the flag, for tests/ and bench/), and
# VESTRUN_CAN_EXEC_CHARSET (the compiler can re-encode UTF-8 text).

set(VESTRUN_EXEC_CHARSET AUTO CACHE STRING "Compile src/ with -fexec-charset=CP932: AUTO, ON or OFF")
set_property(CACHE VESTRUN_EXEC_CHARSET PROPERTY STRINGS AUTO ON OFF)

set(_vestrun_charset_flags -finput-charset=UTF-8 -fexec-charset=CP932)

# Every compiler must keep byte escapes as they are, in plain char strings
# (cmake/charset-bytes.cpp); with the flag, it must also turn UTF-8 text into
# the same bytes (cmake/charset-utf8.cpp).
if(NOT DEFINED VESTRUN_CAN_BYTE_ESCAPES)
  try_compile(_ok ${CMAKE_BINARY_DIR}/charset-check SOURCES ${CMAKE_CURRENT_LIST_DIR}/charset-bytes.cpp
    CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
  set(VESTRUN_CAN_BYTE_ESCAPES ${_ok} CACHE INTERNAL "")
endif()
if(NOT DEFINED VESTRUN_CAN_EXEC_CHARSET)
  try_compile(_ok ${CMAKE_BINARY_DIR}/charset-check SOURCES ${CMAKE_CURRENT_LIST_DIR}/charset-utf8.cpp
    COMPILE_DEFINITIONS ${_vestrun_charset_flags} CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
  set(VESTRUN_CAN_EXEC_CHARSET ${_ok} CACHE INTERNAL "")
endif()

if(NOT VESTRUN_CAN_BYTE_ESCAPES)
  message(FATAL_ERROR
    "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} does not keep the byte escapes of a string literal "
    "(\"\\x83\\x4A\" must stay the bytes 83 4A): it cannot build a vestrun that writes Shift_JIS. Use GCC or clang.")
endif()

# Does src/ still hold UTF-8 text in its literals? Comments may hold Japanese;
# code outside them is ASCII, so a non-ASCII byte left on a line once its
# comments are gone sits in a literal.
function(vestrun_raw_text_files out)
  file(GLOB _files ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h)
  set(_found "")
  foreach(_f IN LISTS _files)
    file(STRINGS ${_f} _lines ENCODING UTF-8 REGEX "[^\t -~]")
    foreach(_l IN LISTS _lines)
      string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" _l "${_l}")
      string(REGEX REPLACE "//.*" "" _l "${_l}")
      if(_l MATCHES "[^\t -~]")
        file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_f})
        list(APPEND _found ${_rel})
        break()
      endif()
    endforeach()
  endforeach()
  set(${out} "${_found}" PARENT_SCOPE)
endfunction()

if(VESTRUN_EXEC_CHARSET STREQUAL "AUTO")
  vestrun_raw_text_files(_raw)
  if(_raw)
    set(_want_flag ON)
  else()
    set(_want_flag OFF)
  endif()
elseif(VESTRUN_EXEC_CHARSET)
  set(_want_flag ON)
  set(_raw "")
else()
  set(_want_flag OFF)
endif()

if(_want_flag AND NOT VESTRUN_CAN_EXEC_CHARSET)
  if(_raw)
    string(REPLACE ";" ", " _raw "${_raw}")
    set(_where "${_raw} still hold UTF-8 text literals")
  else()
    set(_where "VESTRUN_EXEC_CHARSET=ON asks for -fexec-charset=CP932")
  endif()
  message(FATAL_ERROR
    "vestrun writes its texts in Shift_JIS (CP932), and ${_where}. "
    "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} cannot turn UTF-8 text into CP932 "
    "(-fexec-charset=CP932). Build with GCC, or turn the literals into byte escapes first: "
    "python3 tools/sjis-literals.py src/*.cpp src/*.h")
endif()

add_library(vestrun_src_charset INTERFACE)
if(_want_flag)
  target_compile_options(vestrun_src_charset INTERFACE ${_vestrun_charset_flags})
  message(STATUS "Texts of src/: UTF-8 literals, compiled to CP932 with -fexec-charset")
else()
  message(STATUS "Texts of src/: compiled as written, no -fexec-charset (CP932 byte escapes)")
endif()

add_library(vestrun_sjis INTERFACE)
if(VESTRUN_CAN_EXEC_CHARSET)
  target_compile_options(vestrun_sjis INTERFACE ${_vestrun_charset_flags})
endif()
