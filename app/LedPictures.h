// The pictures of the port lamp TComLed: 15 x 15 pixels, olive (128, 128, 0)
// as the transparent colour.
#pragma once

#include <QColor>
#include <QPixmap>

#include "app/ComLed.h"

inline constexpr int kLedPictureSize = 15;
inline const QColor kLedTransparent{128, 128, 0};

// The lit or dark picture of a kind, with the olive background masked out.
// lkCustom has no built-in pictures: a null pixmap.
QPixmap LedPicture(TLedKind kind, bool lit);

// The same picture before masking, as stored (olive where transparent).
QImage LedPictureImage(TLedKind kind, bool lit);
