# The plug-in library's binary form: exactly the eight exports by plain name
# (__stdcall, undecorated on 32-bit Windows), a version resource on Windows,
# default-hidden symbols elsewhere.
if(WIN32)
  # PumpPluginMessages is for hosts without a message loop of their own.
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/plugin/pump_export.cpp
    PROPERTIES HEADER_FILE_ONLY ON)
  enable_language(RC)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/plugin/version.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/dlt645_version.rc @ONLY)
  target_sources(dlt645 PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/plugin/dlt645.def
    ${CMAKE_CURRENT_BINARY_DIR}/dlt645_version.rc)
  target_link_options(dlt645 PRIVATE -Wl,--kill-at)
else()
  # The static parts of the library export nothing of their own.
  target_link_options(dlt645 PRIVATE -Wl,--exclude-libs,ALL)
endif()
