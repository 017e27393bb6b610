#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QImage>

namespace veltr {

class IVeltrDisplay;

// The shown page of the display as 15 lines of fixed-pitch text on a panel 80 characters wide.
// The panel is drawn into an off-screen image and copied in one piece; the background around it
// is filled apart from the panel, so the text never flickers.
class CVeltrView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Measured from the font: all in device-independent pixels.
  struct Geometry {
    int charWidth = 0;   // the width of "O"
    int charHeight = 0;  // the height of "O"
    int leftMargin = 0;
    int topMargin = 0;
    int panelWidth = 0;
    int panelHeight = 0;
    int linePitch = 0;
    int scrollWidth = 0;
    int scrollHeight = 0;
  };

  explicit CVeltrView(QWidget* parent = nullptr);

  // Null shows nothing.
  void SetDocument(const IVeltrDisplay* display);
  // After a display change: the whole view again, without erasing.
  void OnUpdate();

  const QFont& TextFont() const { return font_; }
  const Geometry& PanelGeometry() const { return geometry_; }
  static Geometry Measure(const QFont& font);
  // "Courier" as the devices' manuals show it; where it is not installed, the nearest
  // fixed-pitch face, sized to a 15-pixel character cell.
  static QFont MakeFont();

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void RenderPanel();
  void UpdateScrollBars();

  const IVeltrDisplay* display_ = nullptr;
  QFont font_;
  Geometry geometry_;
  QImage panel_;
};

}  // namespace veltr
