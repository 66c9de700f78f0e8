#include "ui/PicturePrinting.h"

#include <QImageReader>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

bool PicturePrinting::Print(QPrinter& printer, const QString& file) {
    QImageReader reader(file);
    // Turned as the camera held it.
    reader.setAutoTransform(true);
    const QImage picture = reader.read();
    if (picture.isNull()) {
        return false;
    }
    printer.setPageOrientation(picture.width() > picture.height() ? QPageLayout::Landscape
                                                                  : QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    const QRect page = painter.viewport();
    QSize size = picture.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    const QRect target(page.x() + (page.width() - size.width()) / 2,
                       page.y() + (page.height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    return painter.end();
}
