#include "app/appicon.h"

#include <QImage>
#include <QPixmap>

#include "app/corvane.xpm"

QIcon appIcon()
{
    static const QIcon icon(QPixmap::fromImage(QImage(corvane_xpm)));
    return icon;
}
