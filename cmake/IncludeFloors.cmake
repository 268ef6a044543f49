# Checks that every source folder includes only folders below it:
#   cmake -DROOT=<source tree> -P IncludeFloors.cmake
# platform < base < mail < core < net < app < shell, and setup shares nothing
# with them. No Qt header in platform, base, mail or core; no Qt Widgets or
# Gui header below shell. Each fault is printed; any fault fails the run.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P IncludeFloors.cmake")
endif()

set(floors platform base mail core net app shell)
set(qt_free platform base mail core)
set(gui_free platform base mail core net app)
# Classes of Qt Gui and Qt Widgets that a lower floor might reach for.
set(gui_classes QAbstractButton QAction QApplication QBrush QCheckBox QClipboard QCloseEvent
    QColor QComboBox QCursor QDesktopServices QDialog QFont QFontMetrics QGroupBox
    QGuiApplication QIcon QImage QInputDialog QKeyEvent QLabel QLineEdit QListWidget QMenu
    QMessageBox QMouseEvent QPainter QPalette QPixmap QProgressBar QProxyStyle QPushButton
    QScreen QShowEvent QStyle QSystemTrayIcon QWidget QWindow QtGui QtWidgets)

set(faults 0)
function(fault file text)
  message("${file}: ${text}")
  math(EXPR n "${faults} + 1")
  set(faults ${n} PARENT_SCOPE)
endfunction()

foreach(folder ${floors} setup)
  list(FIND floors ${folder} rank)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.hpp
       ${ROOT}/${folder}/*.c ${ROOT}/${folder}/*.cpp)
  list(SORT sources)
  foreach(file ${sources})
    file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line ${includes})
      if(line MATCHES "include[ \t]*\"([A-Za-z0-9_]+)/")
        set(to ${CMAKE_MATCH_1})
        list(FIND floors ${to} to_rank)
        if(folder STREQUAL "setup" AND to_rank GREATER -1)
          fault(${file} "includes ${to}/, but setup shares no code with the rest")
        elseif(to STREQUAL "setup" AND NOT folder STREQUAL "setup")
          fault(${file} "includes setup/, which shares no code with the rest")
        elseif(rank GREATER -1 AND to_rank GREATER rank)
          fault(${file} "includes ${to}/, a floor above ${folder}/")
        endif()
      elseif(line MATCHES "include[ \t]*<([^>]+)>")
        set(header ${CMAKE_MATCH_1})
        string(REGEX REPLACE "/.*" "" head ${header})
        if(folder IN_LIST qt_free AND header MATCHES "^(Q|qt)")
          fault(${file} "includes <${header}>: no Qt below net/")
        elseif(folder IN_LIST gui_free AND (head IN_LIST gui_classes OR header MATCHES "^qpa/"))
          fault(${file} "includes <${header}>: no Qt Widgets or Gui below shell/")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} includes against the floors")
endif()
message("includes follow the floors")
