#include "app/veltr_view.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

#include "engine/display.h"

namespace veltr {
namespace {

constexpr int kCellHeight = 15;
constexpr int kColumns = 80;

}  // namespace

QFont CVeltrView::MakeFont() {
  QFont font(QStringLiteral("Courier"));
  font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
  font.setFixedPitch(true);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  const QFontInfo info(font);
  if (!info.fixedPitch()) {
    // The substitutes of "Courier" on this system are not fixed-pitch: take the system's own.
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setWeight(QFont::Normal);
  }
  // The height asked for is the character cell (ascent and descent), not the em size.
  for (int pixels = kCellHeight; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= kCellHeight) {
      break;
    }
  }
  return font;
}

CVeltrView::Geometry CVeltrView::Measure(const QFont& font) {
  const QFontMetrics metrics(font);
  Geometry g;
  g.charWidth = metrics.horizontalAdvance(QLatin1Char('O'));
  g.charHeight = metrics.height();
  g.leftMargin = g.charWidth / 2;
  g.topMargin = g.charHeight / 3;
  g.panelWidth = kColumns * g.charWidth;
  g.panelHeight = static_cast<int>(IVeltrDisplay::kLineCount) * g.charHeight +
                  static_cast<int>(IVeltrDisplay::kLineCount - 1) * g.topMargin;
  g.linePitch = g.charHeight + g.topMargin;
  g.scrollWidth = kColumns * g.charWidth + 2 * (g.charWidth / 2);
  g.scrollHeight = g.panelHeight + 2 * g.topMargin;
  return g;
}

CVeltrView::CVeltrView(QWidget* parent) : QAbstractScrollArea(parent) {
  font_ = MakeFont();
  geometry_ = Measure(font_);
  // The panel is painted whole every time; Qt must not clear the viewport first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setBackgroundRole(QPalette::Base);
  setFrameShape(QFrame::NoFrame);
  UpdateScrollBars();
}

void CVeltrView::SetDocument(const IVeltrDisplay* display) {
  display_ = display;
  OnUpdate();
}

void CVeltrView::OnUpdate() {
  viewport()->update();
}

QSize CVeltrView::sizeHint() const {
  return {geometry_.scrollWidth, geometry_.scrollHeight};
}

void CVeltrView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void CVeltrView::scrollContentsBy(int, int) {
  viewport()->update();
}

void CVeltrView::UpdateScrollBars() {
  // Measured without the scroll bars first: bars shown once must not keep themselves there.
  const QSize whole = maximumViewportSize();
  const bool fits =
      geometry_.scrollWidth <= whole.width() && geometry_.scrollHeight <= whole.height();
  const QSize area = fits ? whole : viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, geometry_.scrollWidth - area.width()));
  horizontalScrollBar()->setPageStep(area.width());
  verticalScrollBar()->setRange(0, std::max(0, geometry_.scrollHeight - area.height()));
  verticalScrollBar()->setPageStep(area.height());
}

void CVeltrView::RenderPanel() {
  // Drawn at the screen's pixel density, so the text stays sharp on a high-density screen.
  const qreal ratio = viewport()->devicePixelRatioF();
  const QSize pixels(qRound(geometry_.panelWidth * ratio), qRound(geometry_.panelHeight * ratio));
  if (panel_.size() != pixels) {
    panel_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  }
  panel_.setDevicePixelRatio(ratio);
  const QPalette& colours = palette();
  panel_.fill(colours.color(QPalette::Base));
  if (display_ == nullptr) {
    return;
  }
  const uint32_t shown = display_->GetShownPage();
  if (shown >= IVeltrDisplay::kPageCount) {
    return;
  }
  const IVeltrDisplay::Page page = display_->GetPage(shown);
  QPainter painter(&panel_);
  painter.setFont(font_);
  painter.setPen(colours.color(QPalette::Text));
  painter.setBackgroundMode(Qt::TransparentMode);
  const int ascent = QFontMetrics(font_).ascent();
  for (size_t i = 0; i < page.size(); ++i) {
    // Lines longer than the panel are cut at its edge by the image itself.
    painter.drawText(0, static_cast<int>(i) * geometry_.linePitch + ascent,
                     QString::fromStdString(page[i]));
  }
}

void CVeltrView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
  const QRect panelRect(QPoint(geometry_.leftMargin, geometry_.topMargin) - scroll,
                        QSize(geometry_.panelWidth, geometry_.panelHeight));
  // Everything but the panel gets the window colour; the panel is covered by the image.
  const QRegion around = QRegion(event->rect()).subtracted(QRegion(panelRect));
  for (const QRect& rect : around) {
    painter.fillRect(rect, palette().color(QPalette::Base));
  }
  if (display_ == nullptr) {
    painter.fillRect(panelRect, palette().color(QPalette::Base));
    return;
  }
  RenderPanel();
  painter.drawImage(panelRect.topLeft(), panel_);
}

}  // namespace veltr
