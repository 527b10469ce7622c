# The desktop program's start, open and slider-drag times (needs TAVREL_GUI).
if(TARGET tavrelcut_ui)
  add_executable(bench_gui bench_gui.cpp)
  target_link_libraries(bench_gui PRIVATE tavrelcut_ui ${CMAKE_DL_LIBS})
endif()
