#pragma once

#include <QImage>

#include <functional>
#include <string>

class QPaintDevice;

// Pictures of the graph as files: PNG with its resolution recorded, or
// SVG. The graph is drawn by a callback onto the picture's paint device.
// A file is replaced only once it is complete; a device or a pipe that
// is already there is written straight. A failure of any write, the last
// included, fails the call and names the path and the reason.
class CPictureWriter
{
public:
    using Painter = std::function<void(QPaintDevice *device, int width, int height)>;

    // The picture drawn at width x height, marked with dpi.
    static QImage render(const Painter &paint, int width, int height, int dpi);
    static bool writePng(const QImage &image, const std::string &path, std::string &error);
    static bool writeSvg(const Painter &paint, int width, int height, const std::string &path,
                         std::string &error);
    // Writes text (a report) to path, whole or not at all.
    static bool writeText(const std::string &text, const std::string &path, std::string &error);
    static bool writeBytes(const QByteArray &bytes, const std::string &path, std::string &error);
};
