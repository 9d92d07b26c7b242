# The ext-idle-notify-v1 test runs a small compositor of its own: it needs
# libwayland-server and the protocol's server header.
pkg_check_modules(WAYLAND_SERVER REQUIRED IMPORTED_TARGET wayland-server)
pkg_get_variable(test_protocols_dir wayland-protocols pkgdatadir)
pkg_get_variable(test_scanner wayland-scanner wayland_scanner)
set(test_idle_xml ${test_protocols_dir}/staging/ext-idle-notify/ext-idle-notify-v1.xml)
set(test_idle_gen ${CMAKE_CURRENT_BINARY_DIR}/wayland-server)
add_custom_command(
  OUTPUT ${test_idle_gen}/ext-idle-notify-v1-server-protocol.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${test_idle_gen}
  COMMAND ${test_scanner} server-header ${test_idle_xml}
          ${test_idle_gen}/ext-idle-notify-v1-server-protocol.h
  DEPENDS ${test_idle_xml}
  VERBATIM)
target_sources(tst_waylandidle PRIVATE ${test_idle_gen}/ext-idle-notify-v1-server-protocol.h)
target_include_directories(tst_waylandidle PRIVATE ${test_idle_gen})
target_link_libraries(tst_waylandidle PRIVATE PkgConfig::WAYLAND_SERVER)
