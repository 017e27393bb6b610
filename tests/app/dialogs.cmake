# Tests of the dialogs and of the settings.
