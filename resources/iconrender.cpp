// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program icon from its SVG source into the PNG sizes the
// desktop needs and a Windows .ico holding them all:
//   iconrender SOURCE.svg OUTPUT-DIRECTORY
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: iconrender SOURCE.svg OUTPUT-DIRECTORY\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "iconrender: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir output(QString::fromLocal8Bit(argv[2]));
    const QString base = QFileInfo(QString::fromLocal8Bit(argv[1])).completeBaseName();

    QList<QByteArray> images;
    for (int size : kSizes) {
        images.append(renderPng(svg, size));
        QFile file(output.filePath(QStringLiteral("%1-%2.png").arg(base).arg(size)));
        if (!file.open(QIODevice::WriteOnly) || file.write(images.last()) != images.last().size())
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
        ico.append(char(0)); // no palette
        ico.append(char(0)); // reserved
        append<quint16>(ico, 1);  // colour planes
        append<quint16>(ico, 32); // bits per pixel
        append<quint32>(ico, quint32(images[i].size()));
        append<quint32>(ico, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& image : images)
        ico.append(image);
    QFile file(output.filePath(base + QStringLiteral(".ico")));
    return file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size() ? 0 : 1;
}
