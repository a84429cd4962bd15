// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program icon from its SVG source into the PNG sizes the
// desktop needs and a Windows .ico holding them all, or a button picture
// into NAME.png (16 x 16) and NAME@2x.png (32 x 32) for builds without Qt Svg:
//   iconrender icon|picture SOURCE.svg OUTPUT-DIRECTORY
// Qt writes an .ico with one image only, so the file is put together here:
// an icon directory followed by PNG images, as Windows reads since Vista.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <cstdio>

namespace {

constexpr int kSizes[] = {16, 32, 48, 256};

QByteArray renderPng(QSvgRenderer& svg, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

template <typename T>
void append(QByteArray& out, T value)
{
    const T little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QByteArray kind = argc == 4 ? QByteArray(argv[1]) : QByteArray();
    if (kind != "icon" && kind != "picture") {
        std::fprintf(stderr, "usage: iconrender icon|picture SOURCE.svg OUTPUT-DIRECTORY\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[2]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "iconrender: cannot read %s\n", argv[2]);
        return 1;
    }
    const QDir output(QString::fromLocal8Bit(argv[3]));
    const QString base = QFileInfo(QString::fromLocal8Bit(argv[2])).completeBaseName();
    auto save = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (kind == "picture")
        return save(output.filePath(base + QStringLiteral(".png")), renderPng(svg, 16))
                && save(output.filePath(base + QStringLiteral("@2x.png")), renderPng(svg, 32))
            ? 0
            : 1;

    QList<QByteArray> images;
    for (int size : kSizes) {
        images.append(renderPng(svg, size));
        if (!save(output.filePath(QStringLiteral("%1-%2.png").arg(base).arg(size)), images.last()))
            return 1;
    }

    QByteArray ico;
    append<quint16>(ico, 0); // reserved
    append<quint16>(ico, 1); // type: icon
    append<quint16>(ico, quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = kSizes[i];
        ico.append(char(size >= 256 ? 0 : size)); // 0 stands for 256
        ico.append(char(size >= 256 ? 0 : size));
        ico.append(char(0));      // no palette
        ico.append(char(0));      // reserved
        append<quint16>(ico, 1);  // colour planes
        append<quint16>(ico, 32); // bits per pixel
        append<quint32>(ico, quint32(images[i].size()));
        append<quint32>(ico, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& image : images)
        ico.append(image);
    return save(output.filePath(base + QStringLiteral(".ico")), ico) ? 0 : 1;
}
