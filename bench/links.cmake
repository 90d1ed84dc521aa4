# Extra libraries of the benchmark programs; each area appends its own lines.

# GIF codec against giflib.
if(TARGET bench_gif)
    find_package(GIF REQUIRED)
    target_link_libraries(bench_gif PRIVATE tobrel_images GIF::GIF)
endif()

# Audio: GSM coding speed, duplex CPU cost, PortAudio latency.
if(TARGET bench_audio)
    target_link_libraries(bench_audio PRIVATE tobrel_audio tobrel_wave tobrel_acm)
endif()

# Call: mouth-to-ear latency, CPU per call-second, playback queue over a simulated hour.
if(TARGET bench_call)
    target_sources(bench_call PRIVATE ${PROJECT_SOURCE_DIR}/tests/call/roombackend.cpp)
    target_include_directories(bench_call PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(bench_call PRIVATE tobrel_call)
endif()
