# Writes a program's build_config.h while building, for a configuration that needs what the build
# makes: the public half of the key in KEY_FILE. The other values come as -D definitions.
file(STRINGS ${KEY_FILE} ZAVR_RELEASE_PUBLIC_KEY LIMIT_COUNT 1)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
