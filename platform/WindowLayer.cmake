# The window layer: CWnd, dialogs from templates, messages and the standard controls, over Qt Widgets.
add_library(orvo_platform_gui SHARED
  Wnd.cpp WndState.cpp WndMessages.cpp WndBridge.cpp Gdi.cpp DialogBuilder.cpp Controls.cpp ModalLoop.cpp
  Dialog.cpp ComboBox.cpp ComboBoxWidget.cpp ComboEntries.cpp ComboPopup.cpp DateTimeCtrl.cpp)
target_link_libraries(orvo_platform_gui PUBLIC orvo_platform orvo_platform_qt Qt6::Widgets)
target_include_directories(orvo_platform_gui PUBLIC ${PROJECT_SOURCE_DIR})
orvo_warnings(orvo_platform_gui)
