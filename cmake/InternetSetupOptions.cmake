# The vendor's build interface: payload, versions and endpoint host, checked at configure time.

set(INTERNETSETUP_PAYLOAD "" CACHE FILEPATH
    "Installer embedded as raw-data resource 2 (empty: the sample installer built from tools/)")
set(INTERNETSETUP_PAYLOAD_VERSION "2.52.0.0" CACHE STRING "FileVersion of the embedded installer")
set(INTERNETSETUP_VERSION "2.52.0.0" CACHE STRING "FileVersion and ProductVersion of InternetSetup.exe")
set(INTERNETSETUP_ENDPOINT_HOST "127.0.0.1:18352" CACHE STRING
    "Host[:port] of the version endpoint (http://HOST/version.php)")
set(INTERNETSETUP_UPDATE_KEY "" CACHE FILEPATH
    "ECDSA P-256 public key (PEM) that version replies must be signed with (empty: replies are not signed)")

# Splits a dotted version a.b.c.d (each 0..255) into OUT_LIST; stops the configure step otherwise.
function(internetsetup_parse_version variable out_list)
  set(text "${${variable}}")
  if(NOT text MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "${variable} must be four dot-separated numbers 0..255, got \"${text}\"")
  endif()
  set(parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  foreach(part IN LISTS parts)
    string(LENGTH "${part}" digits)
    if(digits GREATER 3 OR part GREATER 255)
      message(FATAL_ERROR "${variable} must be four dot-separated numbers 0..255, got \"${text}\"")
    endif()
  endforeach()
  set(${out_list} ${parts} PARENT_SCOPE)
endfunction()

internetsetup_parse_version(INTERNETSETUP_VERSION INTERNETSETUP_VERSION_PARTS)
internetsetup_parse_version(INTERNETSETUP_PAYLOAD_VERSION INTERNETSETUP_PAYLOAD_VERSION_PARTS)

if(NOT INTERNETSETUP_ENDPOINT_HOST MATCHES "^[A-Za-z0-9.-]+(:[0-9]+)?$")
  message(FATAL_ERROR "INTERNETSETUP_ENDPOINT_HOST must be a host name or address with an optional "
                      ":port, got \"${INTERNETSETUP_ENDPOINT_HOST}\"")
endif()

if(INTERNETSETUP_PAYLOAD AND NOT EXISTS "${INTERNETSETUP_PAYLOAD}")
  message(FATAL_ERROR "INTERNETSETUP_PAYLOAD names a file that does not exist: \"${INTERNETSETUP_PAYLOAD}\"")
endif()

include(InternetSetupUpdateKey)
if(INTERNETSETUP_UPDATE_KEY)
  # Checked here so that a bad key stops the configure step of either preset at once.
  internetsetup_read_update_key("${INTERNETSETUP_UPDATE_KEY}" INTERNETSETUP_UPDATE_KEY_POINT)
endif()

# Packed form a<<24|b<<16|c<<8|d as eight hexadecimal digits, for the generated header.
function(internetsetup_packed_hex parts out)
  list(GET ${parts} 0 a)
  list(GET ${parts} 1 b)
  list(GET ${parts} 2 c)
  list(GET ${parts} 3 d)
  math(EXPR packed "(${a} << 24) | (${b} << 16) | (${c} << 8) | ${d}" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} ${packed} PARENT_SCOPE)
endfunction()
internetsetup_packed_hex(INTERNETSETUP_PAYLOAD_VERSION_PARTS INTERNETSETUP_PAYLOAD_VERSION_PACKED)
string(REPLACE ";" "," INTERNETSETUP_VERSION_COMMAS "${INTERNETSETUP_VERSION_PARTS}")
