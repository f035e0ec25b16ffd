# `cmake --install` lays out the documented tree.
add_test(NAME install_layout
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/install_layout.cmake)
