# "pids" and "cut".
list(APPEND TAVREL_CLI_SOURCES cmd_pids.cpp cmd_cut.cpp)
list(APPEND TAVREL_CLI_DEFS TAVREL_HAVE_CUT)
