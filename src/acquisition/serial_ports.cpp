#include "acquisition/serial_ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <utility>

namespace glove {

std::vector<SerialPortRecord> listSerialPorts(const QString& stableNamesDir) {
    const QHash<QString, QString> stable = stableNames(stableNamesDir);
    std::vector<SerialPortRecord> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortRecord port{
            .path = info.systemLocation(),
            .byIdPath = stable.value(QFileInfo(info.systemLocation()).canonicalFilePath()),
            .description = info.description(),
            .manufacturer = info.manufacturer(),
            .vendorId = {},
            .productId = {},
            .serialNumber = info.serialNumber(),
        };
        if (info.hasVendorIdentifier()) port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) port.productId = info.productIdentifier();
        ports.push_back(std::move(port));
    }
    return ports;
}

QHash<QString, QString> stableNames(const QString& dir) {
    QHash<QString, QString> names;
    // Sorted, so a device with several links always shows the same one.
    const QFileInfoList links =
        QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (!link.isSymLink()) continue;
        const QString device = link.canonicalFilePath();  // empty when it leads nowhere
        if (!device.isEmpty() && !names.contains(device)) names.insert(device, link.filePath());
    }
    return names;
}

namespace {

QString hex4(quint16 id) {
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

// A device path as its name and its number, so that ttyS2 sorts before ttyS10.
std::pair<QString, qulonglong> naturalKey(const QString& path) {
    qsizetype digits = path.size();
    while (digits > 0 && path[digits - 1].isDigit()) --digits;
    return {path.left(digits), path.mid(digits).toULongLong()};
}

QString usbIds(const SerialPortRecord& port) {
    if (port.vendorId && port.productId) {
        return QStringLiteral("USB %1:%2").arg(hex4(*port.vendorId), hex4(*port.productId));
    }
    if (port.vendorId) return QStringLiteral("USB vendor ") + hex4(*port.vendorId);
    if (port.productId) return QStringLiteral("USB product ") + hex4(*port.productId);
    return {};
}

}  // namespace

QStringList formatPortList(std::vector<SerialPortRecord> ports) {
    if (ports.empty()) return {QStringLiteral("No serial ports found.")};
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return naturalKey(a.path) < naturalKey(b.path); });
    QStringList lines;
    for (const SerialPortRecord& port : ports) {
        QStringList details{port.description, port.manufacturer, usbIds(port)};
        if (!port.serialNumber.isEmpty()) details << QStringLiteral("serial ") + port.serialNumber;
        details.removeAll(QString());
        QStringList fields{port.path, port.byIdPath, details.join(QStringLiteral(", "))};
        fields.removeAll(QString());
        lines << fields.join(QStringLiteral("  "));
    }
    return lines;
}

}  // namespace glove
