# Installs the build tree into a fresh prefix and checks that every expected file is there
# and that the desktop entry starts the installed application.
# Arguments: BUILD_DIR, WORK_DIR, EXPECTED (a |-separated list of paths under the prefix).
cmake_minimum_required(VERSION 3.25)
string(RANDOM LENGTH 10 suffix)
set(prefix "${WORK_DIR}/install-${suffix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  file(REMOVE_RECURSE "${prefix}")
  message(FATAL_ERROR "cmake --install failed: ${errors}")
endif()

string(REPLACE "|" ";" expected "${EXPECTED}")
set(missing "")
foreach(path ${expected})
  if(NOT EXISTS "${prefix}/${path}")
    list(APPEND missing "${path}")
  endif()
endforeach()

file(STRINGS "${prefix}/share/applications/com.brenvale.kova.connect.desktop" entry)
foreach(line "Name=KOVA Connect" "Exec=kova-connect" "Icon=com.brenvale.kova.connect")
  if(NOT line IN_LIST entry)
    list(APPEND missing "desktop entry line '${line}'")
  endif()
endforeach()
file(REMOVE_RECURSE "${prefix}")
if(missing)
  message(FATAL_ERROR "not installed: ${missing}")
endif()
