# Sources of the dialogs and of the settings (CVeltrSettings); app/CMakeLists.txt adds them to the program.
set(VELTR_APP_DIALOG_SOURCES)
