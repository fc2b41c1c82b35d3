# Manual pages made from the programs' own --help by help2man, with the description and
# examples from docs/man/<program>.h2m, so the options listed never drift from the code.
include(GNUInstallDirs)

find_program(HELP2MAN help2man)
find_program(GZIP gzip)
# Sanitizer and fuzzing builds would run instrumented programs for nothing; they install nothing.
if(NOT HELP2MAN OR NOT GZIP OR KOVA_SANITIZE OR KOVA_FUZZ)
  if(NOT HELP2MAN)
    message(STATUS "help2man not found: no manual pages")
  endif()
  return()
endif()

set(KOVA_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(man_pages)
foreach(entry "kova-cli:kova" "kova-phone:kova-phone" "kova-connect:kova-connect")
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 target)
  list(GET entry 1 program)
  if(NOT TARGET ${target})
    continue()
  endif()
  set(include_file ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
  set(page ${KOVA_MAN_DIR}/${program}.1)
  # The Qt application needs a platform to print its help; the offscreen one needs no display.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KOVA_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${HELP2MAN} --no-info --section=1
            --version-string=${PROJECT_VERSION} --source=KOVA
            --include=${include_file} --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${GZIP} -n -9 -f ${page}
    DEPENDS ${target} ${include_file}
    COMMENT "Writing the manual page of ${program}"
    VERBATIM)
  list(APPEND man_pages ${page}.gz)
endforeach()

add_custom_target(kova_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
