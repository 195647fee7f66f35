#include "picturewriter.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string failure(const std::string &path, const QString &reason)
{
    return "Can not write " + path + ": " + reason.toStdString();
}

// Where a picture or a report goes, once it is encoded whole. A new name or a regular file is
// replaced only once the whole file is written; a device or a pipe that
// is already there (/dev/stdout, a FIFO with a reader) is written
// straight, unbuffered, so that each failed write is seen. Opening one
// never waits: a FIFO without a reader fails at once.
class Target
{
public:
    bool open(const std::string &path, std::string &error)
    {
        const QByteArray name = QFile::encodeName(QString::fromStdString(path));
        struct stat info;
        if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode)
            && !S_ISDIR(info.st_mode)) {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) {
                error = failure(path, QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            auto direct = std::make_unique<QFile>();
            if (!direct->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                              QFileDevice::AutoCloseHandle)) {
                ::close(fd);
                error = failure(path, direct->errorString());
                return false;
            }
            m_file = std::move(direct);
            return true;
        }
        auto save = std::make_unique<QSaveFile>(QString::fromStdString(path));
        if (!save->open(QIODevice::WriteOnly)) {
            error = failure(path, save->errorString());
            return false;
        }
        m_save = save.get();
        m_file = std::move(save);
        return true;
    }

    QIODevice *device() { return m_file.get(); }

    // Ends the file; false with the reason when any write failed.
    bool finish(const std::string &path, std::string &error)
    {
        bool done = m_file->error() == QFileDevice::NoError;
        if (m_save)
            done = m_save->commit() && done;
        else
            m_file->close();
        if (!done)
            error = failure(path, m_file->errorString());
        return done;
    }

    // Ends the file after a failed write, with its reason.
    void cancel(const std::string &path, std::string &error)
    {
        error = failure(path, m_file->errorString());
        if (m_save)
            m_save->cancelWriting(); // the unfinished file goes with the object
        else
            m_file->close();
    }

private:
    std::unique_ptr<QFileDevice> m_file;
    QSaveFile *m_save = nullptr;
};

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
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, "png");
    if (!writer.write(image)) {
        error = failure(path, writer.errorString());
        return false;
    }
    return writeBytes(encoded.data(), path, error);
}

bool CPictureWriter::writeSvg(const Painter &paint, int width, int height, const std::string &path,
                              std::string &error)
{
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    {
        QSvgGenerator generator;
        generator.setOutputDevice(&encoded);
        generator.setSize(QSize(width, height));
        generator.setViewBox(QRect(0, 0, width, height));
        generator.setTitle(QStringLiteral("Trace"));
        paint(&generator, width, height);
    }
    return writeBytes(encoded.data(), path, error);
}

bool CPictureWriter::writeText(const std::string &text, const std::string &path, std::string &error)
{
    return writeBytes(QByteArray::fromRawData(text.data(), qsizetype(text.size())), path, error);
}

bool CPictureWriter::writeBytes(const QByteArray &bytes, const std::string &path,
                                std::string &error)
{
    Target file;
    if (!file.open(path, error))
        return false;
    if (file.device()->write(bytes) != bytes.size()) {
        file.cancel(path, error);
        return false;
    }
    return file.finish(path, error);
}
