#include "app/dlg_combo_selector.h"

#include <QComboBox>

namespace veltr {

bool CVeltrComboSelector::SelectByData(QComboBox* box, int32_t value) {
  const int index = box->findData(value);
  if (index < 0) {
    return false;
  }
  box->setCurrentIndex(index);
  return true;
}

int32_t CVeltrComboSelector::SelectedData(const QComboBox* box) {
  const int index = box->currentIndex();
  if (index < 0) {
    return -1;
  }
  bool ok = false;
  const int value = box->itemData(index).toInt(&ok);
  return ok ? value : -1;
}

void CVeltrComboSelector::AddEntry(QComboBox* box, const char* text, int32_t value) {
  box->addItem(QString::fromUtf8(text), value);
}

}  // namespace veltr
