# Picks the six payload files to embed and generates, from res/payloads.list,
# the resource lines that embed them, the installer's catalogue rows with each file's digest,
# the text of the payload listing shipped beside the installer, and the detection script's rows.
#
# Sets ORVEX_PAYLOAD_FILES (full paths, in installation order), ORVEX_EMBEDDED_PAYLOAD_DIR,
# ORVEX_GENERATED_DIR, ORVEX_PAYLOAD_LISTING (the listing's text) and ORVEX_DETECTION_ROWS.

set(ORVEX_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
include(${CMAKE_CURRENT_LIST_DIR}/Digest.cmake)

set(ORVEX_PAYLOAD_DIR "" CACHE PATH
  "Folder holding the real OCR data files; when empty, generated stand-ins are embedded")

if(ORVEX_PAYLOAD_DIR)
  get_filename_component(ORVEX_EMBEDDED_PAYLOAD_DIR "${ORVEX_PAYLOAD_DIR}" ABSOLUTE)
  message(NOTICE "Payloads: embedding the OCR data files from ${ORVEX_EMBEDDED_PAYLOAD_DIR}")
else()
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  set(ORVEX_EMBEDDED_PAYLOAD_DIR "${CMAKE_BINARY_DIR}/standin-payloads")
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/cmake/make_standin_payloads.py"
            "${ORVEX_EMBEDDED_PAYLOAD_DIR}"
    RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "Could not generate the stand-in payloads (${_status})")
  endif()
  message(NOTICE "Payloads: embedding generated STAND-INS, not the real OCR data "
                 "(set ORVEX_PAYLOAD_DIR for a release): ${ORVEX_EMBEDDED_PAYLOAD_DIR}")
endif()

set(ORVEX_PAYLOAD_FILES "")
set(_resource_lines "")
set(_catalogue_rows "")
set(_listing_rows "")
set(_detection_rows "")
set(_name_width 0)
set(_size_width 0)
file(STRINGS "${PROJECT_SOURCE_DIR}/res/payloads.list" _entries REGEX "^[0-9]")
# The digests are taken here, so configure again whenever the list or a payload changes.
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/res/payloads.list")
foreach(_entry IN LISTS _entries)
  if(NOT _entry MATCHES "^([0-9]+)[ \t]+([^ \t]+)[ \t]*$")
    message(FATAL_ERROR "res/payloads.list: cannot read the line '${_entry}'")
  endif()
  set(_id "${CMAKE_MATCH_1}")
  set(_name "${CMAKE_MATCH_2}")
  set(_file "${ORVEX_EMBEDDED_PAYLOAD_DIR}/${_name}")
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "Payload file missing: ${_file}")
  endif()
  file(SIZE "${_file}" _size)
  if(_size EQUAL 0)
    message(FATAL_ERROR "Payload file is empty: ${_file}")
  endif()
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_file}")
  orvex_xxh3("${_file}" _xxh3)
  file(SHA256 "${_file}" _sha256)
  # Upper case, as PowerShell's Get-FileHash shows it.
  string(TOUPPER "${_sha256}" _sha256)
  list(APPEND ORVEX_PAYLOAD_FILES "${_file}")
  string(APPEND _resource_lines "${_id} RCDATA \"${_file}\"\n")
  string(APPEND _catalogue_rows "    {${_id}, L\"${_name}\", 0x${_xxh3}},\n")
  list(APPEND _listing_rows "${_name}|${_size}|${_sha256}|${_xxh3}")
  list(APPEND _detection_rows "  @('${_name}', '${_sha256}')")
  string(LENGTH "${_name}" _length)
  if(_length GREATER _name_width)
    set(_name_width ${_length})
  endif()
  string(LENGTH "${_size}" _length)
  if(_length GREATER _size_width)
    set(_size_width ${_length})
  endif()
endforeach()

# The listing for administrators: one line per payload, in aligned columns.
set(ORVEX_PAYLOAD_LISTING
  "# file name, size in bytes, SHA-256 (as Get-FileHash shows it), XXH3-64 (as the installer checks it)\n")
foreach(_row IN LISTS _listing_rows)
  string(REPLACE "|" ";" _fields "${_row}")
  list(GET _fields 0 _name)
  list(GET _fields 1 _size)
  string(LENGTH "${_name}" _length)
  math(EXPR _pad "${_name_width} - ${_length} + 2")
  string(REPEAT " " ${_pad} _after_name)
  string(LENGTH "${_size}" _length)
  math(EXPR _pad "${_size_width} - ${_length}")
  string(REPEAT " " ${_pad} _before_size)
  list(GET _fields 2 _sha256)
  list(GET _fields 3 _xxh3)
  string(APPEND ORVEX_PAYLOAD_LISTING
    "${_name}${_after_name}${_before_size}${_size}  ${_sha256}  ${_xxh3}\n")
endforeach()

# The detection script's table (cmake/deploy/detect.ps1.in): a PowerShell array of pairs.
list(JOIN _detection_rows ",\n" ORVEX_DETECTION_ROWS)

file(CONFIGURE OUTPUT "${ORVEX_GENERATED_DIR}/payloads.rc" CONTENT
  "// Generated from res/payloads.list.\n#include <winresrc.h>\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n${_resource_lines}")
file(CONFIGURE OUTPUT "${ORVEX_GENERATED_DIR}/payload_rows.inc" CONTENT
  "// Generated from res/payloads.list.\n${_catalogue_rows}")

# For the scripts that show or compare what was embedded.
set(ORVEX_EMBEDDED_PAYLOAD_DIR "${ORVEX_EMBEDDED_PAYLOAD_DIR}" CACHE INTERNAL "Embedded payloads")
