#include "picturewriter.h"

#include <QImageWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <cmath>

namespace {

std::string failure(const std::string &path, const QString &reason)
{
    return "Can not write " + path + ": " + reason.toStdString();
}

} // namespace

QImage CPictureWriter::render(const Painter &paint, int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    paint(&image, width, height);
    const int perMeter = int(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(perMeter);
    image.setDotsPerMeterY(perMeter);
    return image;
}

bool CPictureWriter::writePng(const QImage &image, const std::string &path, std::string &error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = failure(path, file.errorString());
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = failure(path, writer.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = failure(path, file.errorString());
        return false;
    }
    return true;
}

bool CPictureWriter::writeSvg(const Painter &paint, int width, int height, const std::string &path,
                              std::string &error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = failure(path, file.errorString());
        return false;
    }
    {
        QSvgGenerator generator;
        generator.setOutputDevice(&file);
        generator.setSize(QSize(width, height));
        generator.setViewBox(QRect(0, 0, width, height));
        generator.setTitle(QStringLiteral("Trace"));
        paint(&generator, width, height);
    }
    if (file.error() != QFileDevice::NoError || !file.commit()) {
        error = failure(path, file.errorString());
        return false;
    }
    return true;
}

bool CPictureWriter::writeText(const std::string &text, const std::string &path, std::string &error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit()) {
        error = failure(path, file.errorString());
        return false;
    }
    return true;
}
