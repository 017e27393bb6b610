// The view: geometry measured from its fixed-pitch font, and lines cut at the panel's edge.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QScrollBar>

#include <string>

#include "app/veltr_view.h"
#include "engine/display.h"

namespace veltr_app_test {
namespace {

using veltr::CVeltrView;

TEST(ViewTest, FontIsFixedPitchWithACellOfAtMostFifteenPixels) {
  const QFont font = CVeltrView::MakeFont();
  EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
  const QFontMetrics metrics(font);
  EXPECT_LE(metrics.height(), 15);
  EXPECT_GE(metrics.height(), 12);
  EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("i")),
            metrics.horizontalAdvance(QStringLiteral("W")));
}

TEST(ViewTest, GeometryFollowsTheMeasuredCharacter) {
  CVeltrView view;
  const auto& g = view.PanelGeometry();
  const QFontMetrics metrics(view.TextFont());
  const int w = metrics.horizontalAdvance(QLatin1Char('O'));
  const int h = metrics.height();
  EXPECT_EQ(g.leftMargin, w / 2);
  EXPECT_EQ(g.topMargin, h / 3);
  EXPECT_EQ(g.panelWidth, 80 * w);
  EXPECT_EQ(g.panelHeight, 15 * h + 14 * (h / 3));
  EXPECT_EQ(g.linePitch, h + h / 3);
  EXPECT_EQ(g.scrollWidth, 80 * w + 2 * (w / 2));
  EXPECT_EQ(g.scrollHeight, g.panelHeight + 2 * (h / 3));
}

// Columns of the view's image between x0 and x1 that hold any pixel other than the background,
// within the first text line.
int InkedColumns(const QImage& image, int x0, int x1, int y0, int y1, QRgb background) {
  int inked = 0;
  for (int x = x0; x < x1 && x < image.width(); ++x) {
    for (int y = y0; y < y1 && y < image.height(); ++y) {
      if (image.pixel(x, y) != background) {
        ++inked;
        break;
      }
    }
  }
  return inked;
}

TEST(ViewTest, LineLongerThanEightyCharactersIsCutAtThePanelEdge) {
  veltr::IVeltrDisplay display;
  display.SetLine(0, 0, std::string(120, 'W'));
  CVeltrView view;
  view.SetDocument(&display);
  const auto& g = view.PanelGeometry();
  view.resize(g.scrollWidth + 200, g.scrollHeight + 40);  // room beyond the panel
  view.show();
  const QImage image = view.viewport()->grab().toImage();
  const QRgb background = view.palette().color(QPalette::Base).rgb();
  const int panelRight = g.leftMargin + g.panelWidth;
  const int top = g.topMargin;
  const int bottom = g.topMargin + g.charHeight;
  EXPECT_GT(InkedColumns(image, panelRight - g.charWidth, panelRight, top, bottom, background), 0)
      << "the 80th character is drawn";
  EXPECT_EQ(InkedColumns(image, panelRight, image.width(), top, bottom, background), 0)
      << "nothing beyond the panel";
}

TEST(ViewTest, ShowsTheShownPage) {
  veltr::IVeltrDisplay display;
  display.SetLine(0, 2, "page zero");
  CVeltrView view;
  view.SetDocument(&display);
  view.resize(view.sizeHint());
  view.show();
  const auto& g = view.PanelGeometry();
  const QRgb background = view.palette().color(QPalette::Base).rgb();
  const int y0 = g.topMargin + 2 * g.linePitch;
  const auto inked = [&] {
    const QImage image = view.viewport()->grab().toImage();
    return InkedColumns(image, 0, image.width(), y0, y0 + g.charHeight, background);
  };
  EXPECT_GT(inked(), 0);
  display.ShowPage(1);
  EXPECT_EQ(inked(), 0) << "page 1 has nothing on line 2";
}

}  // namespace
}  // namespace veltr_app_test
