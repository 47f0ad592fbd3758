#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace glove {

// One serial device as the system describes it; an empty field is not known.
struct SerialPortRecord {
    QString path;      // the device, e.g. /dev/ttyUSB0
    QString byIdPath;  // its stable name under /dev/serial/by-id, if it has one
    QString description;
    QString manufacturer;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
};

inline const QString kStableNamesDir = QStringLiteral("/dev/serial/by-id");

// This machine's serial devices, each with its stable name from `stableNamesDir`. Pseudo-terminals
// are not serial devices here.
std::vector<SerialPortRecord> listSerialPorts(const QString& stableNamesDir = kStableNamesDir);

// The device each symbolic link in `dir` leads to, mapped to the link's path; links that
// lead nowhere are left out, and a missing directory gives none.
QHash<QString, QString> stableNames(const QString& dir);

// One line a device, in natural order of the paths: its path, its stable name, then what
// is known of it. One line that says so when there is none.
QStringList formatPortList(std::vector<SerialPortRecord> ports);

}  // namespace glove
