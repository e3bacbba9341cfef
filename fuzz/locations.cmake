# Route files, placemark tables and the beacon alert's fields.
hx_fuzz(location_route ${CMAKE_CURRENT_LIST_DIR}/locations/location_route_fuzz.cpp LIBS hx_services)
hx_fuzz(placemarks ${CMAKE_CURRENT_LIST_DIR}/locations/placemarks_fuzz.cpp LIBS hx_services)
hx_fuzz(beacon_fields ${CMAKE_CURRENT_LIST_DIR}/locations/beacon_fields_fuzz.cpp LIBS hx_ui_settings hx_toolkit_testing)
# Beacon subtitles as stored with a preset, through the beacon panel's description.
hx_fuzz(beacon_subtitle ${CMAKE_CURRENT_LIST_DIR}/locations/beacon_subtitle_fuzz.cpp LIBS hx_ui_settings hx_toolkit_testing)
