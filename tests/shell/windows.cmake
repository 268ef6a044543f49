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
  fit_test
  server_list_editor_test
)
foreach(t ${window_tests})
  add_executable(${t} ${CMAKE_CURRENT_SOURCE_DIR}/${t}.cpp)
  target_link_libraries(${t} PRIVATE tolvane_shell Qt6::Test)
  target_compile_definitions(${t} PRIVATE TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TOLVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  tolvane_warnings(${t})
  if(t STREQUAL "history_menu_test")
    # Held requests go through a real SMTP server.
    target_sources(${t} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/../net/net_support.cpp)
    target_link_libraries(${t} PRIVATE GTest::gtest)
  endif()
  if(t STREQUAL "fit_test")
    continue()  # registered once per font family below
  endif()
  add_test(NAME shell.${t} COMMAND ${t})
  set_tests_properties(shell.${t} PROPERTIES LABELS "unit;window" TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endforeach()

# The windows with each font family Debian installs by default, one at a
# time: fontconfig is told to offer that family only.
foreach(family "DejaVu Sans" "Noto Sans" "Liberation Sans")
  string(REPLACE " " "" tag ${family})
  set(conf ${CMAKE_CURRENT_BINARY_DIR}/fonts-${tag}.conf)
  file(WRITE ${conf} "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">
<fontconfig>
  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>
  <selectfont>
    <acceptfont><pattern><patelt name=\"family\"><string>${family}</string></patelt></pattern></acceptfont>
    <rejectfont><pattern></pattern></rejectfont>
  </selectfont>
</fontconfig>
")
  add_test(NAME shell.fit_test.${tag} COMMAND fit_test)
  set_tests_properties(shell.fit_test.${tag} PROPERTIES LABELS "unit;window" TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${conf};TOLVANE_FIT_FAMILY=${family}")
endforeach()
