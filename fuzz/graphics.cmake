hx_fuzz(png_decode ${CMAKE_CURRENT_LIST_DIR}/graphics/png_decode_fuzz.cpp LIBS hx_graphics)
hx_fuzz(jpeg_decode ${CMAKE_CURRENT_LIST_DIR}/graphics/jpeg_decode_fuzz.cpp LIBS hx_graphics)
hx_fuzz(gif_frames ${CMAKE_CURRENT_LIST_DIR}/graphics/gif_frames_fuzz.cpp LIBS hx_graphics)
