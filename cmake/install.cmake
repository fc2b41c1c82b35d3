# What `cmake --install` puts in place besides the tray application (app/shell installs
# itself): the library and its header, the command-line tools and the udev rules.
include(GNUInstallDirs)

install(TARGETS kova LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/core/api/kova.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kova)

# The tools are found by the name they are installed under, whatever their target is called.
set(KOVA_INSTALLED_PROGRAMS kova kova-phone)
foreach(tool_dir tools/cli tools/phone)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${tool_dir}/CMakeLists.txt)
    continue()
  endif()
  get_property(tool_targets DIRECTORY ${PROJECT_SOURCE_DIR}/${tool_dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${tool_targets})
    get_target_property(type ${target} TYPE)
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
      set(name ${target})
    endif()
    if(type STREQUAL "EXECUTABLE" AND name IN_LIST KOVA_INSTALLED_PROGRAMS)
      set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
      install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endforeach()

# udev reads rules from <prefix>/lib/udev/rules.d only for the /usr prefix; other prefixes
# can point this at /etc/udev/rules.d.
set(KOVA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE PATH "Where the udev rules are installed")
if(EXISTS ${PROJECT_SOURCE_DIR}/udev/70-kova-connect.rules)
  install(FILES ${PROJECT_SOURCE_DIR}/udev/70-kova-connect.rules DESTINATION ${KOVA_UDEV_RULES_DIR})
endif()
