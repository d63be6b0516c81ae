#include "browse/core/preview.h"

namespace browse {

QImage previewImage(const QImage &picture, QSize size)
{
    if (picture.isNull() || size.isEmpty())
        return {};
    QImage image = picture;
    const QSize grown(std::max(image.width(), size.width()), std::max(image.height(), size.height()));
    if (grown != image.size())
        image = image.scaled(grown, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace browse
