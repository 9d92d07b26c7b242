# The USB monitor's test builds udev testbeds with umockdev.
pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
target_link_libraries(tst_usbmonitor PRIVATE PkgConfig::UMOCKDEV)
# The guard's sensors with a USB testbed among them.
target_link_libraries(tst_guardsensors PRIVATE PkgConfig::UMOCKDEV)
