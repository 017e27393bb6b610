#include "app/dlg_small.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/dlg_combo_selector.h"
#include "app/dlg_units.h"
#include "engine/app_settings.h"
#include "engine/text_codec.h"

namespace veltr {
namespace {

constexpr int kUserTextMaxChars = static_cast<int>(kUserTextChars);

// A dialog's icon, at the size message boxes use on this style.
QLabel* MakeIconLabel(QWidget* parent, QStyle::StandardPixmap which) {
  auto* icon = new QLabel(parent);
  const int size = parent->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, parent);
  // Drawn for the screen's density, so the icon stays sharp on a high-density screen.
  icon->setPixmap(parent->style()
                      ->standardIcon(which, nullptr, parent)
                      .pixmap(QSize(size, size), parent->devicePixelRatio()));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  return icon;
}

QDialogButtonBox* MakeButtonColumn(QDialog* dialog, QDialogButtonBox::StandardButtons which) {
  auto* buttons = new QDialogButtonBox(which, Qt::Vertical, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

void MakeModalPopup(QDialog* dialog, const char* caption) {
  dialog->setWindowTitle(QString::fromUtf8(caption));
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

}  // namespace

CVeltrColdBootDlg::CVeltrColdBootDlg(PortId port, bool searchedAll, QWidget* parent)
    : QDialog(parent), port_(port) {
  MakeModalPopup(this, "Cold boot");

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setText(searchedAll
                        ? QStringLiteral("Failed to find device at ports COM1 - COM4.")
                        : QStringLiteral("Failed to find device at ") +
                              QString::fromLatin1(PortNameOf(port)) + QStringLiteral(" port."));
  auto* steps = new QLabel(
      QStringLiteral("To initiate cold boot:\n1. Power down the device;\n2. Select the port to "
                     "use;\n3. Press OK button;\n4. Power the device within 10 sec."),
      this);

  portBox_ = new QComboBox(this);
  portBox_->setObjectName(QStringLiteral("port"));
  for (const PortId id : {kPortCom1, kPortCom2, kPortCom3, kPortCom4}) {
    CVeltrComboSelector::AddEntry(portBox_, PortNameOf(id), id);
  }
  if (!CVeltrComboSelector::SelectByData(portBox_, port)) {
    portBox_->setCurrentIndex(0);
  }
  auto* group = new QGroupBox(QStringLiteral("Port"), this);
  auto* groupLayout = new QHBoxLayout(group);
  auto* usePort = new QLabel(QStringLiteral("Use port"), group);
  usePort->setBuddy(portBox_);
  groupLayout->addWidget(usePort);
  groupLayout->addWidget(portBox_, 1);

  auto* text = new QVBoxLayout;
  text->addWidget(message_);
  text->addSpacing(message_->fontMetrics().height() / 2);
  text->addWidget(steps);
  text->addWidget(group);
  text->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(MakeIconLabel(this, QStyle::SP_MessageBoxWarning), 0, Qt::AlignTop);
  layout->addLayout(text, 1);
  layout->addWidget(MakeButtonColumn(this, QDialogButtonBox::Ok | QDialogButtonBox::Cancel), 0,
                    Qt::AlignTop);
  FixDialogSize(this, 188, 118);
}

QString CVeltrColdBootDlg::Message() const {
  return message_->text();
}

void CVeltrColdBootDlg::accept() {
  port_ = static_cast<PortId>(CVeltrComboSelector::SelectedData(portBox_));
  QDialog::accept();
}

CVeltrUserTextDlg::CVeltrUserTextDlg(const std::array<std::string, 2>& current, QWidget* parent)
    : QDialog(parent), editText_(current) {
  MakeModalPopup(this, "User text");

  auto* group = new QGroupBox(QStringLiteral("User text"), this);
  auto* grid = new QGridLayout(group);
  for (int i = 0; i < 2; ++i) {
    auto* edit = new QLineEdit(QString::fromStdString(current[i]), group);
    edit->setObjectName(QStringLiteral("userText%1").arg(i + 1));
    // Typing stops at the limit; OK still checks, since a text can get longer by other ways
    // than typing (a device's own text never is, but the check costs nothing).
    edit->setMaxLength(kUserTextMaxChars);
    auto* label = new QLabel(QStringLiteral("User text %1*").arg(i + 1), group);
    label->setBuddy(edit);
    grid->addWidget(label, i, 0);
    grid->addWidget(edit, i, 1);
    edits_[i] = edit;
  }
  grid->addWidget(new QLabel(QStringLiteral("* 30 characters max"), group), 2, 1);

  auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
  QPushButton* upload = buttons->addButton(QStringLiteral("Upload"), QDialogButtonBox::AcceptRole);
  upload->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(group, 1);
  layout->addWidget(buttons, 0, Qt::AlignTop);
  FixDialogSize(this, 243, 65);
  edits_[0]->setFocus();
}

void CVeltrUserTextDlg::accept() {
  std::array<std::string, 2> typed;
  for (int i = 0; i < 2; ++i) {
    QLineEdit* edit = edits_[i];
    const std::string utf8 = edit->text().toStdString();
    QString refusal;
    if (Utf8ToAnsi(utf8).size() > kUserTextChars || edit->text().size() > kUserTextMaxChars) {
      refusal = QStringLiteral("Enter no more than %1 characters.").arg(kUserTextMaxChars);
    } else if (const std::string problem = UserTextProblem(i + 1, utf8); !problem.empty()) {
      // The engine words it as part of a sentence; here it stands alone.
      refusal = QString::fromStdString(problem);
      refusal[0] = refusal[0].toUpper();
      refusal += QLatin1Char('.');
    }
    if (!refusal.isEmpty()) {
      QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationName), refusal,
                      QMessageBox::Ok, this);
      box.exec();
      edit->setFocus();
      edit->selectAll();
      return;
    }
    typed[i] = utf8;
  }
  editText_ = typed;
  userText_ = {Utf8ToAnsi(typed[0]), Utf8ToAnsi(typed[1])};
  QDialog::accept();
}

CVeltrSuccessDlg::CVeltrSuccessDlg(const QString& message, bool exitUpgradeMode, QWidget* parent)
    : QDialog(parent), exitUpgradeMode_(exitUpgradeMode) {
  MakeModalPopup(this, "Succeeded");
  auto* text = new QLabel(message, this);
  text->setObjectName(QStringLiteral("message"));
  text->setWordWrap(true);
  exitBox_ = new QCheckBox(QStringLiteral("Exit upgrade mode"), this);
  exitBox_->setObjectName(QStringLiteral("exitUpgradeMode"));
  exitBox_->setChecked(exitUpgradeMode);

  auto* right = new QVBoxLayout;
  right->addWidget(text);
  right->addStretch(1);
  right->addWidget(exitBox_);
  auto* top = new QHBoxLayout;
  top->addWidget(MakeIconLabel(this, QStyle::SP_MessageBoxInformation), 0, Qt::AlignTop);
  top->addLayout(right, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(buttons);
  FixDialogSize(this, 142, 66);
}

void CVeltrSuccessDlg::accept() {
  exitUpgradeMode_ = exitBox_->isChecked();
  QDialog::accept();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  MakeModalPopup(this, "About Veltrano Upgrade");
  auto* group = new QGroupBox(QStringLiteral("About"), this);
  auto* icon = new QLabel(group);
  const QIcon appIcon = QApplication::windowIcon();
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(
      (appIcon.isNull() ? style()->standardIcon(QStyle::SP_MessageBoxInformation) : appIcon)
          .pixmap(QSize(size, size), devicePixelRatio()));
  auto* lines = new QVBoxLayout;
  lines->addWidget(new QLabel(QStringLiteral("Veltrano Upgrade Version 1.02.006"), group));
  lines->addWidget(new QLabel(QStringLiteral("Build 13-08-07-B"), group));
  lines->addWidget(
      new QLabel(QStringLiteral("Copyright \u00A9 Veltrano. All rights reserved."), group));
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(icon, 0, Qt::AlignTop);
  groupLayout->addLayout(lines, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(group, 1);
  layout->addWidget(MakeButtonColumn(this, QDialogButtonBox::Ok), 0, Qt::AlignTop);
  FixDialogSize(this, 226, 53);
}

}  // namespace veltr
