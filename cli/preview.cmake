# "preview": decodes one picture through the Kivra exports.
list(APPEND TAVREL_CLI_SOURCES cmd_preview.cpp image_writers.cpp)
list(APPEND TAVREL_CLI_LIBS kivra)
list(APPEND TAVREL_CLI_DEFS TAVREL_HAVE_PREVIEW)
