# Writes the installed public header: the source header with the configured USB
# vendor and product ids as its defaults.
#   cmake -DINPUT=include/qrx7730.h -DOUTPUT=... -DVENDOR_ID=0x1209 -DPRODUCT_ID=0x0001 -P configure_header.cmake
# Fails when the header no longer has the two default lines, so that a changed
# header cannot silently install with the wrong ids.
file(READ ${INPUT} header)
foreach(kind VENDOR PRODUCT)
  set(value ${${kind}_ID})
  if(NOT value MATCHES "^0[xX][0-9A-Fa-f]+$|^[0-9]+$")
    message(FATAL_ERROR "QRX7730_USB_${kind}_ID '${value}' is not a number")
  endif()
  set(pattern "#define QRX7730_USB_${kind}_ID [0-9A-Fa-fx]+\n")
  string(REGEX MATCHALL "${pattern}" found "${header}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${INPUT}: expected one line '#define QRX7730_USB_${kind}_ID <id>', found ${count}")
  endif()
  string(REGEX REPLACE "${pattern}" "#define QRX7730_USB_${kind}_ID ${value}\n" header "${header}")
endforeach()
# Only rewrite a changed file, so that hosts built against it are not rebuilt.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL header)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${header}")
