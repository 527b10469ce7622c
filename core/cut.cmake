# Cutting: program tables, clip list, output rewrites and the cut job.
target_sources(tavrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/program_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_rewrite.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cut_job.cpp
)
