# Window tests: one Qt Test program per file, on the offscreen platform. Each
# test makes its own program and settings folders, so they run in parallel.
set(window_tests
  task_icon_test
  version_label_test
  progress_test
  tips_test
  main_window_test
  single_instance_test
  mail_address_dlg_test
  history_menu_test
)
foreach(t ${window_tests})
  add_executable(${t} ${CMAKE_CURRENT_SOURCE_DIR}/${t}.cpp)
  target_link_libraries(${t} PRIVATE tolvane_shell Qt6::Test)
  target_compile_definitions(${t} PRIVATE TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TOLVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  tolvane_warnings(${t})
  add_test(NAME shell.${t} COMMAND ${t})
  set_tests_properties(shell.${t} PROPERTIES LABELS "unit;window" TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endforeach()
