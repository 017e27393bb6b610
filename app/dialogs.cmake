# The dialogs and the settings (CVeltrSettings) of VeltrUpgrade: a library of their own that the
# program and the tests link. Headers are included as "app/...".
set(VELTR_APP_DIALOG_SOURCES)

veltr_layer(veltr_app_dialogs app)
target_sources(veltr_app_dialogs PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_units.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_combo_selector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_found_devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_small.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_units.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_combo_selector.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_settings.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_found_devices.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_small.h)
set_target_properties(veltr_app_dialogs PROPERTIES AUTOMOC ON)
target_link_libraries(veltr_app_dialogs PUBLIC Qt6::Widgets veltr_core)
