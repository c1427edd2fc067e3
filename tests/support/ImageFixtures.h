#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

namespace bv::test {

// Small real images for composed messages; the bytes themselves are what the
// tests compare.
inline QByteArray gifBytes()
{
    return QByteArray::fromHex("47494638396101000100800000000000ffffff21f90401000000002c00000000"
                               "010001000002024401003b");
}

inline QByteArray imageBytes(const char* format, int size = 8)
{
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            image.setPixel(x, y, qRgb(x * 30, y * 30, (x ^ y) * 15));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QByteArray pngBytes(int size = 8)
{
    return imageBytes("PNG", size);
}

inline QByteArray jpegBytes(int size = 8)
{
    return imageBytes("JPG", size);
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace bv::test
