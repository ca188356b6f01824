// The lamp pictures. The bulb pair is stored as XPM text; the coloured
// lamps are plain round lamps drawn on the olive background.
#include "app/LedPictures.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>

namespace {

// Dark bulb: white glass, grey filament, black outline, black-and-silver base.
const char* const kBulbOff[] = {
    "15 15 6 1",
    ". c #808000",
    "k c #000000",
    "w c #FFFFFF",
    "g c #808080",
    "s c #C0C0C0",
    "y c #FFFF00",
    "...............",
    ".....kkkkk.....",
    "....kwwwwwk....",
    "...kwwwwwwwk...",
    "...kwwgwgwwk...",
    "...kwwgwgwwk...",
    "...kwwwgwwwk...",
    "....kwwgwwk....",
    ".....kwgwk.....",
    ".....kwgwk.....",
    ".....kkkkk.....",
    ".....ksssk.....",
    ".....kkkkk.....",
    ".....ksssk.....",
    "......kkk......",
};

// Lit bulb: the same bulb with yellow glass and short yellow rays around it.
const char* const kBulbOn[] = {
    "15 15 6 1",
    ". c #808000",
    "k c #000000",
    "w c #FFFFFF",
    "g c #808080",
    "s c #C0C0C0",
    "y c #FFFF00",
    ".......y.......",
    ".y...kkkkk...y.",
    "..y.kyyyyyk.y..",
    "...kyyyyyyyk...",
    "yy.kyygygyyk.yy",
    "...kyygygyyk...",
    "...kyyygyyyk...",
    "..y.kyygyyk.y..",
    ".....kygyk.....",
    ".....kygyk.....",
    ".....kkkkk.....",
    ".....ksssk.....",
    ".....kkkkk.....",
    ".....ksssk.....",
    "......kkk......",
};

// A round lamp in one colour: bright when lit, a darker shade when dark.
QImage roundLamp(const QColor& color, bool lit)
{
    QImage image(kLedPictureSize, kLedPictureSize, QImage::Format_RGB32);
    image.fill(kLedTransparent);
    QPainter p(&image);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(lit ? color : color.darker(250));
    p.drawEllipse(1, 1, kLedPictureSize - 3, kLedPictureSize - 3);
    if (lit) {
        p.setPen(QColor(255, 255, 255));
        p.drawPoint(5, 4);
        p.drawPoint(4, 5);
    }
    return image;
}

} // namespace

QImage LedPictureImage(TLedKind kind, bool lit)
{
    switch (kind) {
    case lkBulb:
        return QImage(lit ? kBulbOn : kBulbOff).convertToFormat(QImage::Format_RGB32);
    case lkRedLight: return roundLamp(QColor(255, 0, 0), lit);
    case lkGreenLight: return roundLamp(QColor(0, 255, 0), lit);
    case lkBlueLight: return roundLamp(QColor(0, 0, 255), lit);
    case lkYellowLight: return roundLamp(QColor(255, 255, 0), lit);
    case lkPurpleLight: return roundLamp(QColor(255, 0, 255), lit);
    case lkCustom: break;
    }
    return QImage();
}

QPixmap LedPicture(TLedKind kind, bool lit)
{
    const QImage image = LedPictureImage(kind, lit);
    if (image.isNull())
        return QPixmap();
    QPixmap picture = QPixmap::fromImage(image);
    // Olive pixels become transparent.
    picture.setMask(picture.createMaskFromColor(kLedTransparent, Qt::MaskInColor));
    return picture;
}
