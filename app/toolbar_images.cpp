#include "app/toolbar_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace veltr {
namespace {

const QColor kInk(0x20, 0x2a, 0x36);
const QColor kChip(0x3c, 0x4a, 0x5c);
const QColor kPin(0x9a, 0xa4, 0xb0);
const QColor kGreen(0x1e, 0x8c, 0x3c);
const QColor kRed(0xc8, 0x32, 0x28);
const QColor kBlue(0x1e, 0x64, 0xc8);
const QColor kPaper(0xfa, 0xfa, 0xf4);

// A device board seen from above: body and three pins each side. Coordinates are the 16 x 15
// grid; half-pixel offsets put 1-pixel lines on whole pixels at scale 1.
void DrawChip(QPainter& p, const QRectF& body) {
  p.setPen(Qt::NoPen);
  p.setBrush(kPin);
  for (int i = 0; i < 3; ++i) {
    const qreal y = body.top() + 1 + i * (body.height() - 2) / 3.0;
    p.drawRect(QRectF(body.left() - 2, y, 2, 1));
    p.drawRect(QRectF(body.right(), y, 2, 1));
  }
  p.setBrush(kChip);
  p.drawRect(body);
  p.setBrush(kPin);
  p.drawEllipse(QRectF(body.left() + 1, body.top() + 1, 1.5, 1.5));
}

void DrawUpArrow(QPainter& p, qreal x, qreal top, qreal bottom, const QColor& colour) {
  QPainterPath path;
  path.moveTo(x, top);
  path.lineTo(x + 3.5, top + 3.5);
  path.lineTo(x + 1.5, top + 3.5);
  path.lineTo(x + 1.5, bottom);
  path.lineTo(x - 1.5, bottom);
  path.lineTo(x - 1.5, top + 3.5);
  path.lineTo(x - 3.5, top + 3.5);
  path.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(path);
}

void DrawEnterUpgradeMode(QPainter& p) {
  // A plug going into a socket: connect and enter upgrade mode.
  p.setPen(Qt::NoPen);
  p.setBrush(kChip);
  p.drawRect(QRectF(9, 2, 6, 11));
  p.setBrush(kPaper);
  p.drawRect(QRectF(10, 4, 2, 2));
  p.drawRect(QRectF(10, 9, 2, 2));
  p.setBrush(kGreen);
  p.drawRect(QRectF(3, 4, 4, 7));
  p.drawRect(QRectF(7, 4.5, 3, 1.5));
  p.drawRect(QRectF(7, 9, 3, 1.5));
  p.drawRect(QRectF(0, 6.5, 3, 2));
}

void DrawEraseSettings(QPainter& p) {
  DrawChip(p, QRectF(3, 2, 10, 11));
  // A red cross over the board: its settings go.
  QPen pen(kRed, 2.0, Qt::SolidLine, Qt::FlatCap);
  p.setPen(pen);
  p.drawLine(QPointF(5, 4), QPointF(11, 11));
  p.drawLine(QPointF(11, 4), QPointF(5, 11));
}

void DrawUploadFirmware(QPainter& p) {
  DrawChip(p, QRectF(3, 7, 10, 7));
  DrawUpArrow(p, 8, 0, 7, kBlue);
}

void DrawUploadUserText(QPainter& p) {
  // A page with two text lines and a pen.
  p.setPen(QPen(kInk, 1.0));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 1.5, 10, 12));
  p.setPen(QPen(kInk, 1.0));
  p.drawLine(QPointF(3, 4.5), QPointF(10, 4.5));
  p.drawLine(QPointF(3, 7.5), QPointF(8, 7.5));
  p.setPen(QPen(kBlue, 2.0, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(8, 12), QPointF(14.5, 5.5));
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  QPainterPath tip;
  tip.moveTo(7, 13);
  tip.lineTo(7.3, 11.2);
  tip.lineTo(8.8, 12.7);
  tip.closeSubpath();
  p.drawPath(tip);
}

void DrawPreferences(QPainter& p) {
  // A gear wheel.
  const QPointF centre(8, 7.5);
  p.setPen(Qt::NoPen);
  p.setBrush(kChip);
  for (int i = 0; i < 8; ++i) {
    p.save();
    p.translate(centre);
    p.rotate(i * 45.0);
    p.drawRect(QRectF(-1.25, -7, 2.5, 3));
    p.restore();
  }
  p.drawEllipse(centre, 5, 5);
  p.setBrush(kPaper);
  p.drawEllipse(centre, 2, 2);
}

void Draw(ToolImage image, QPainter& p) {
  switch (image) {
    case ToolImage::EnterUpgradeMode:
      DrawEnterUpgradeMode(p);
      break;
    case ToolImage::EraseSettings:
      DrawEraseSettings(p);
      break;
    case ToolImage::UploadFirmware:
      DrawUploadFirmware(p);
      break;
    case ToolImage::UploadUserText:
      DrawUploadUserText(p);
      break;
    case ToolImage::Preferences:
      DrawPreferences(p);
      break;
  }
}

}  // namespace

QPixmap MakeToolPixmap(ToolImage image, qreal scale) {
  QPixmap pixmap(qRound(kToolImageWidth * scale), qRound(kToolImageHeight * scale));
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  // Straight edges on the grid stay crisp at scale 1; curves get smooth edges.
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(scale, scale);
  Draw(image, p);
  p.end();
  pixmap.setDevicePixelRatio(scale);
  return pixmap;
}

QIcon MakeToolIcon(ToolImage image) {
  QIcon icon;
  for (qreal scale : {1.0, 1.25, 1.5, 2.0, 3.0}) {
    icon.addPixmap(MakeToolPixmap(image, scale));
  }
  return icon;
}

QPixmap MakeAppIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 16.0, size / 16.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x24, 0x3c, 0x5a));
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  p.translate(0, 0.5);
  DrawUpArrow(p, 8, 2, 11, QColor(0xf0, 0xc8, 0x3c));
  p.setBrush(QColor(0xf0, 0xf0, 0xf0));
  p.drawRect(QRectF(3, 12, 10, 1.5));
  return pixmap;
}

}  // namespace veltr
