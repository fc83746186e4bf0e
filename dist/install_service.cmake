# Run by `cmake --install`: the systemd unit with the paths of the prefix
# installed to, and the configuration folder, whose files are kept when they
# are already there (a reinstall does not undo a user's settings).
# DLT645_DIST (dist/) and DLT645_UNIT_DIR (where the unit is made, in the
# build tree) are set by the install rule before this script runs.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ETC "/etc/dlt645-host")
else()
  set(ETC "${CMAKE_INSTALL_PREFIX}/etc/dlt645-host")
endif()
set(BIN "${CMAKE_INSTALL_PREFIX}/bin")
set(_unit "${DLT645_UNIT_DIR}/dlt645-host.service")
configure_file("${DLT645_DIST}/dlt645-host.service.in" "${_unit}" @ONLY)
file(INSTALL "${_unit}" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
foreach(_pair "dist/dlt645-host.env|dlt645-host.env" "examples/serial-meter.xml|query.xml")
  string(REPLACE "|" ";" _pair "${_pair}")
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  if(EXISTS "$ENV{DESTDIR}${ETC}/${_to}")
    message(STATUS "Kept: $ENV{DESTDIR}${ETC}/${_to}")
  else()
    file(INSTALL "${DLT645_DIST}/../${_from}" DESTINATION "${ETC}" RENAME "${_to}")
  endif()
endforeach()
