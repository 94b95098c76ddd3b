# The demo: a decoder wrapper that keeps real time without a sound card and
# generated, tagged tracks. `make demo` builds norvelo-demo and runs it.
add_executable(norvelo-pace demo/pace.cc)
target_link_libraries(norvelo-pace norvelo_tools)
add_executable(demo-tone demo/tone.cc)

find_program(NORVELO_MPG123 mpg123 PATHS /usr/bin)
find_program(NORVELO_LAME lame PATHS /usr/bin)
set(NORVELO_DEMO_DIR ${CMAKE_BINARY_DIR}/demo)

set(MPG123 ${NORVELO_MPG123})
set(PACE $<TARGET_FILE:norvelo-pace>)
configure_file(demo/mpg123.in ${CMAKE_CURRENT_BINARY_DIR}/mpg123.in @ONLY)
file(GENERATE OUTPUT ${NORVELO_DEMO_DIR}/bin/mpg123 INPUT ${CMAKE_CURRENT_BINARY_DIR}/mpg123.in
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)

# title|artist|album|seconds|key of the tune; the first title is longer than
# the display so that it moves. Short tunes follow, enough of them that the
# tens mode jumps twice and next past the end is far away.
set(NORVELO_DEMO_TRACKS
    "Harbour Lights at Dusk|Norvelo Demo||40|0"
    "Short One|Norvelo Demo||20|5"
    "Third Tune|Norvelo Demo|Tones|30|7")
foreach(number RANGE 4 24)
  math(EXPR note "${number} % 10")
  list(APPEND NORVELO_DEMO_TRACKS "Tune ${number}|Norvelo Demo|Short Tunes|12|${note}")
endforeach()
set(demo_mp3s)
set(number 0)
list(LENGTH NORVELO_DEMO_TRACKS demo_count)
foreach(track IN LISTS NORVELO_DEMO_TRACKS)
  math(EXPR number "${number} + 1")
  # Two digits, so that the shell's name order is the play order.
  set(name ${number})
  if(number LESS 10)
    set(name 0${number})
  endif()
  string(REPLACE "|" ";" fields "${track}")
  list(GET fields 0 title)
  list(GET fields 1 artist)
  list(GET fields 2 album)
  list(GET fields 3 seconds)
  list(GET fields 4 note)
  set(mp3 ${NORVELO_DEMO_DIR}/tracks/${name}.mp3)
  set(wav ${NORVELO_DEMO_DIR}/tracks/${name}.wav)
  set(tags --tt "${title}" --ta "${artist}" --tn ${number}/${demo_count})
  if(album)
    list(APPEND tags --tl "${album}")
  endif()
  add_custom_command(OUTPUT ${mp3}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${NORVELO_DEMO_DIR}/tracks
    COMMAND demo-tone ${wav} ${seconds} ${note}
    COMMAND ${NORVELO_LAME} --quiet -m m -b 32 ${tags} ${wav} ${mp3}
    COMMAND ${CMAKE_COMMAND} -E remove ${wav}
    DEPENDS demo-tone
    COMMENT "Demo track ${number}: ${title}"
    VERBATIM)
  list(APPEND demo_mp3s ${mp3})
endforeach()
add_custom_target(norvelo-demo DEPENDS ${demo_mp3s})
add_dependencies(norvelo-demo norvelo norvelo-unit norvelo-pace)
