#include "app/gui/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace clipra {

namespace {

// Every glyph is drawn on a 16 x 16 grid; half units put 1-unit lines on
// whole pixels at the design size.
void Draw(QPainter& p, GlyphIndex index) {
  auto pen = [](const char* colour) {
    QPen pen{QColor(colour)};
    pen.setWidthF(1.0);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
  };
  switch (index) {
    case kGlyphInput: {
      p.setPen(pen("#8a6210"));
      p.setBrush(QColor("#e0a82e"));
      p.drawPolygon(
          QPolygonF({{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 13.5}, {1.5, 13.5}}));
      p.setBrush(QColor("#f7d472"));
      p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
      break;
    }
    case kGlyphOutput: {
      p.setPen(pen("#1f3f66"));
      p.setBrush(QColor("#3b71ad"));
      QPainterPath body;
      body.moveTo(1.5, 1.5);
      body.lineTo(12.5, 1.5);
      body.lineTo(14.5, 3.5);
      body.lineTo(14.5, 14.5);
      body.lineTo(1.5, 14.5);
      body.closeSubpath();
      p.drawPath(body);
      p.setBrush(QColor("#ffffff"));
      p.drawRect(QRectF(3.5, 1.5, 8, 5));
      p.setBrush(QColor("#c9d3de"));
      p.drawRect(QRectF(4.5, 9.5, 7, 5));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor("#1f3f66"));
      p.drawRect(QRectF(9, 2.5, 1.5, 3));
      break;
    }
    case kGlyphMap: {
      p.setPen(pen("#4d7a38"));
      p.setBrush(QColor("#d4ebc4"));
      p.drawRect(QRectF(1.5, 2.5, 13, 11));
      QPainterPath river;
      river.moveTo(2, 11);
      river.cubicTo(5, 8, 7, 13, 10, 9);
      river.cubicTo(11.5, 7, 12.5, 6, 14, 5);
      p.setPen(pen("#3d86c6"));
      p.setBrush(Qt::NoBrush);
      p.drawPath(river);
      QPen frame = pen("#c62828");
      frame.setDashPattern({1.5, 1});
      p.setPen(frame);
      p.drawRect(QRectF(4.5, 5.5, 7, 6));
      break;
    }
    case kGlyphStart: {
      p.setPen(pen("#1b6a27"));
      p.setBrush(QColor("#2f9e40"));
      p.drawPolygon(QPolygonF({{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}}));
      break;
    }
    case kGlyphStop: {
      p.setPen(pen("#8c1d1d"));
      p.setBrush(QColor("#d63a3a"));
      p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
      break;
    }
    case kGlyphPreview: {
      p.setPen(pen("#4d7a38"));
      p.setBrush(QColor("#d4ebc4"));
      p.drawRect(QRectF(0.5, 0.5, 11, 11));
      p.setPen(pen("#37474f"));
      p.setBrush(QColor(255, 255, 255, 160));
      p.drawEllipse(QRectF(3.5, 3.5, 7, 7));
      QPen handle = pen("#37474f");
      handle.setWidthF(2.5);
      handle.setCapStyle(Qt::RoundCap);
      p.setPen(handle);
      p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
      break;
    }
  }
}

}  // namespace

QIcon Glyph(GlyphIndex index) {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    Draw(p, index);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace clipra
