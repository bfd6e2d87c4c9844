# The host simulator that loads the driver module like the audio server does.
# Shared by the driver's tests and benchmarks, whichever is configured first.
if(NOT TARGET OskelDriverHost)
  add_library(OskelDriverHost STATIC ${CMAKE_CURRENT_LIST_DIR}/HostSimulator.cpp)
  target_include_directories(OskelDriverHost PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(OskelDriverHost PUBLIC OskelAudioCompat fmt::fmt ${CMAKE_DL_LIBS})
  target_compile_definitions(OskelDriverHost PRIVATE OSKEL_AUDIO_DRIVER_MODULE="$<TARGET_FILE:OskelAudio>")
  add_dependencies(OskelDriverHost OskelAudio)
  oskel_warnings(OskelDriverHost)
endif()
