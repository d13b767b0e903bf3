#include "ui/appicon.h"

#include <QString>

namespace {

constexpr int kLargeIconSize = 32;
constexpr int kSmallIconSize = 16;
const char* const kLargeIconPath = ":/icons/sorvinda-32.png";
const char* const kSmallIconPath = ":/icons/sorvinda-16.png";

} // namespace

QIcon AppIcon()
{
    QIcon icon;
    icon.addFile(QString::fromLatin1(kLargeIconPath), QSize(kLargeIconSize, kLargeIconSize));
    icon.addFile(QString::fromLatin1(kSmallIconPath), QSize(kSmallIconSize, kSmallIconSize));
    return icon;
}

QPixmap AppIconPixmap(int size)
{
    return AppIcon().pixmap(size, size);
}
