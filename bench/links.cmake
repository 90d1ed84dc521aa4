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
