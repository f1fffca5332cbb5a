# The string grid control (framework/stringgrid.*), its own library over the core's grid model.
# Included by whichever part needs it first.
if(NOT TARGET koe_stringgrid)
  add_library(koe_stringgrid STATIC ${CMAKE_CURRENT_LIST_DIR}/stringgrid.cpp)
  target_include_directories(koe_stringgrid PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(koe_stringgrid PUBLIC koe_core user32 gdi32)
endif()
