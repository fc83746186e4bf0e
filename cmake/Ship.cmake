# What ships (DLT645_SHIP, the release presets): optimised binaries, copied
# stripped to <build>/ship with their symbol tables in a file of their own
# beside each (name.debug, found through a debug link), so that what a user
# gets is small and a crash address can still be read against the symbols of
# its build.
option(DLT645_SHIP "Optimised build of what ships, symbols split off" OFF)

# Called once every target exists.
function(dlt645_ship_targets)
  if(NOT DLT645_SHIP)
    return()
  endif()
  if(NOT CMAKE_OBJCOPY OR NOT CMAKE_STRIP)
    message(FATAL_ERROR "the release build needs objcopy and strip for this compiler")
  endif()
  set(_dir ${CMAKE_BINARY_DIR}/ship)
  set(_outputs)
  foreach(target IN ITEMS dlt645 dlt645-host dlt645-meter-sim)
    if(NOT TARGET ${target})
      continue()
    endif()
    set(_out ${_dir}/$<TARGET_FILE_NAME:${target}>)
    add_custom_command(OUTPUT ${_dir}/${target}.stamp
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${_out}.debug
      # The library keeps its exports, a program what its plug-in looks up in it.
      COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${_out} $<TARGET_FILE:${target}>
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug ${_out}
      COMMAND ${CMAKE_COMMAND} -E touch ${_dir}/${target}.stamp
      DEPENDS ${target}
      WORKING_DIRECTORY ${_dir}
      COMMENT "Stripping ${target} for shipping"
      VERBATIM)
    list(APPEND _outputs ${_dir}/${target}.stamp)
  endforeach()
  add_custom_target(dlt645_ship ALL DEPENDS ${_outputs})
endfunction()
