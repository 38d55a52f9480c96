# Writes OUTPUT, the header that holds the certificate authorities a program trusts: the bytes of the PEM
# file INPUT, or none when INPUT is empty (the TLS library's own store is then used). The program reads
# nothing of it from the build machine at run time.
if(INPUT STREQUAL "")
  set(bytes "")
else()
  if(NOT EXISTS "${INPUT}")
    message(FATAL_ERROR "ZAVR_CA_BUNDLE names ${INPUT}, which does not exist: give the PEM file of the certificate authorities the program is to trust, or leave it empty")
  endif()
  file(READ "${INPUT}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
endif()
file(WRITE "${OUTPUT}.new"
  "// Written by the build from ZAVR_CA_BUNDLE (${INPUT}); empty keeps the TLS library's own store.\n"
  "#pragma once\n"
  "static const unsigned char kCaBundlePem[] = {${bytes}0};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
