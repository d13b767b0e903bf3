#pragma once

#include <QIcon>
#include <QPixmap>

// Icon resource 128, the application icon: one 32x32 and one 16x16 image.
// Every dialog shows it as its window icon; the About box shows the large
// image. Needs the resources library's compiled-in images.
QIcon AppIcon();

// The image of the given size (32 or 16 in pixels); other sizes are scaled
// from the nearest image.
QPixmap AppIconPixmap(int size);
