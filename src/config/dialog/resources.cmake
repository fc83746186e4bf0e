# The options dialog resources ("FORM_NAME", "TFRMOPTION", "FORM_DATA"),
# generated at build time from config/dialog/options_form.cpp. The generator
# is compiled with the build machine's compiler in both builds: a cross
# build's own programs could not run here. The target dlt645_resources carries
# them: RCDATA through windres on Windows, registered byte arrays elsewhere.
set(_dlg ${CMAKE_CURRENT_SOURCE_DIR}/config/dialog)
set(_resgen_sources
  ${_dlg}/resource_generator.cpp ${_dlg}/options_form.cpp ${_dlg}/form_stream.cpp
  ${_dlg}/form_script.cpp ${_dlg}/gzip.cpp)
set(_resgen_headers
  ${_dlg}/options_form.h ${_dlg}/form_stream.h ${_dlg}/form_script.h ${_dlg}/gzip.h
  ${CMAKE_CURRENT_SOURCE_DIR}/config/crc32.h)
set(_res_out ${CMAKE_CURRENT_BINARY_DIR}/dialog_resources)
set(_resgen ${_res_out}/dlt645_resgen${CMAKE_HOST_EXECUTABLE_SUFFIX})

if(CMAKE_CROSSCOMPILING)
  find_program(DLT645_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(_host_cxx ${DLT645_HOST_CXX})
else()
  set(_host_cxx ${CMAKE_CXX_COMPILER})
endif()

add_custom_command(
  OUTPUT ${_resgen}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_res_out}
  COMMAND ${_host_cxx} -std=c++20 -O1 -DDLT645_RESGEN_MAIN -I${CMAKE_CURRENT_SOURCE_DIR}
          ${_resgen_sources} -o ${_resgen}
  DEPENDS ${_resgen_sources} ${_resgen_headers}
  COMMENT "Building the dialog resource generator with the build machine's compiler"
  VERBATIM)

set(_res_files ${_res_out}/form_name.bin ${_res_out}/tfrmoption.bin ${_res_out}/form_data.bin)
add_custom_command(
  OUTPUT ${_res_files} ${_res_out}/dlt645_resources.rc ${_res_out}/embedded_resources.cpp
  COMMAND ${_resgen} ${_res_out}
  DEPENDS ${_resgen}
  COMMENT "Generating the dialog resources"
  VERBATIM)

if(WIN32)
  enable_language(RC)
  set_source_files_properties(${_res_out}/dlt645_resources.rc PROPERTIES OBJECT_DEPENDS "${_res_files}")
  add_library(dlt645_resources OBJECT ${_res_out}/dlt645_resources.rc)
else()
  add_library(dlt645_resources OBJECT ${_res_out}/embedded_resources.cpp)
  target_link_libraries(dlt645_resources PRIVATE dlt645_platform)
endif()

# The test suites that read the resources link them too (tests/ is processed
# after src/, so the link is made once the whole tree is read).
function(_dlt645_link_dialog_resources)
  foreach(_t test_config test_plugin)
    if(TARGET ${_t})
      target_link_libraries(${_t} PRIVATE dlt645_resources)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _dlt645_link_dialog_resources)
