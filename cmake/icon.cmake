# Draws the program's icon, packaging/olvesk.svg, as a |size|-pixel square
# PNG at |output| when the build needs it.
function(olvesk_icon_png size output)
  find_program(OLVESK_RSVG_CONVERT rsvg-convert REQUIRED)
  set(svg ${PROJECT_SOURCE_DIR}/packaging/olvesk.svg)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${OLVESK_RSVG_CONVERT} -w ${size} -h ${size} -o ${output} ${svg}
    DEPENDS ${svg}
    VERBATIM)
endfunction()
