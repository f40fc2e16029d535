# The audio output driven by hand, for tests and benchmarks (either may be built alone).
if(NOT TARGET vorlr_manual_audio)
  add_library(vorlr_manual_audio STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ManualAudioOutput.cpp ${CMAKE_CURRENT_LIST_DIR}/ManualAudioOutput.h)
  target_include_directories(vorlr_manual_audio PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(vorlr_manual_audio PUBLIC vorlr_media)
  target_compile_options(vorlr_manual_audio PRIVATE ${VORLR_WARNINGS})
endif()
