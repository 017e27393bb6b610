#pragma once

#include <cstdint>

class QComboBox;

namespace veltr {

struct AppSettings;

// What the dialogs that edit the settings share: the record they edit, and the rule that every
// combo box entry carries its number (DeviceType or PortId) as item data and is selected and read
// by that number, never by its position.
class CVeltrComboSelector {
 public:
  void SetSettings(AppSettings* settings) { settings_ = settings; }
  AppSettings* Settings() const { return settings_; }

  // The entry whose data is value becomes current; false (selection unchanged) when none has it.
  static bool SelectByData(QComboBox* box, int32_t value);
  // The data of the current entry; -1 when none is selected.
  static int32_t SelectedData(const QComboBox* box);
  // Appends an entry with its number as data.
  static void AddEntry(QComboBox* box, const char* text, int32_t value);

 protected:
  AppSettings* settings_ = nullptr;
};

}  // namespace veltr
