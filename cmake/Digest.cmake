# The payload digest is XXH3-64 (seed 0), from Debian's xxHash: the build computes it with
# xxhsum (package xxhash), the installer with the header-only library (package libxxhash-dev).
#
# The cross compiler must never search the build machine's /usr/include, so the one header is
# copied into the generated folder and included from there.
#
# Expects ORVEX_GENERATED_DIR; defines orvex_xxh3(FILE OUT_VAR).

find_file(ORVEX_XXHASH_HEADER xxhash.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
  DOC "xxHash's single header (Debian: libxxhash-dev)")
if(NOT ORVEX_XXHASH_HEADER)
  message(FATAL_ERROR "xxhash.h not found (Debian: libxxhash-dev); scripts/build installs it")
endif()
# XXH3's output was settled in 0.8.0; earlier versions may give other digests.
file(STRINGS "${ORVEX_XXHASH_HEADER}" _xxh_version REGEX "^#define XXH_VERSION_(MAJOR|MINOR) ")
if(NOT _xxh_version MATCHES "MAJOR +([0-9]+).*MINOR +([0-9]+)")
  message(FATAL_ERROR "${ORVEX_XXHASH_HEADER}: cannot read xxHash's version")
endif()
if(CMAKE_MATCH_1 EQUAL 0 AND CMAKE_MATCH_2 LESS 8)
  message(FATAL_ERROR "${ORVEX_XXHASH_HEADER}: xxHash 0.8.0 or later is needed")
endif()
configure_file("${ORVEX_XXHASH_HEADER}" "${ORVEX_GENERATED_DIR}/xxhash.h" COPYONLY)

find_program(ORVEX_XXHSUM xxhsum DOC "xxHash's command-line tool (Debian: xxhash)")
if(NOT ORVEX_XXHSUM)
  message(FATAL_ERROR "xxhsum not found (Debian: xxhash); scripts/build installs it")
endif()

# XXH3-64 of FILE as 16 lower-case hex digits. The bytes go through standard input, so no path
# needs quoting. xxhsum 0.8.1 (Debian 12) prints "XXH3 (stdin) = <hex>"; the GNU-style
# "XXH3_<hex>  stdin" is read as well.
function(orvex_xxh3 file out_var)
  execute_process(COMMAND "${ORVEX_XXHSUM}" -H3 INPUT_FILE "${file}"
                  OUTPUT_VARIABLE _output RESULT_VARIABLE _status ERROR_VARIABLE _error)
  if(NOT _status EQUAL 0 OR NOT _output MATCHES "(= |XXH3_)([0-9a-fA-F]+)")
    message(FATAL_ERROR "xxhsum could not digest ${file}: ${_status} ${_output}${_error}")
  endif()
  string(TOLOWER "${CMAKE_MATCH_2}" _digest)
  string(LENGTH "${_digest}" _length)
  if(NOT _length EQUAL 16)
    message(FATAL_ERROR "xxhsum gave '${_digest}' for ${file}, not a 64-bit digest")
  endif()
  set(${out_var} "${_digest}" PARENT_SCOPE)
endfunction()
