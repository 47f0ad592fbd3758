#include "acquisition/mscomm.h"

#include <QSerialPort>
#include <QtDebug>

#include "common/run_time_error.h"

namespace glove {

namespace {

constexpr int kLongestInput = 32767;

QSerialPort::Parity qtParity(LineSettings::Parity parity) {
    switch (parity) {
        case LineSettings::Parity::None:
            return QSerialPort::NoParity;
        case LineSettings::Parity::Even:
            return QSerialPort::EvenParity;
        case LineSettings::Parity::Odd:
            return QSerialPort::OddParity;
        case LineSettings::Parity::Mark:
            return QSerialPort::MarkParity;
        case LineSettings::Parity::Space:
            return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(LineSettings::StopBits stopBits) {
    switch (stopBits) {
        case LineSettings::StopBits::One:
            return QSerialPort::OneStop;
        case LineSettings::StopBits::OneAndHalf:
            return QSerialPort::OneAndHalfStop;
        case LineSettings::StopBits::Two:
            return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

}  // namespace

QString devicePathForPort(int number) {
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

MSComm::MSComm(QString devicePath, QObject* parent)
    : QObject(parent),
      port_(std::make_unique<QSerialPort>()),
      devicePath_(std::move(devicePath)),
      settings_(LineSettings::parse(settingsText_)) {
    port_->setReadBufferSize(kReceiveBufferSize);
    connect(port_.get(), &QSerialPort::readyRead, this, [this] {
        emit charactersArrived();
        if (rThreshold_ > 0 && inBufferCount() >= rThreshold_) emit OnComm();
    });
    connect(port_.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A timeout is only a wait that found nothing; errors while opening are raised by open.
        if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError || !port_->isOpen() ||
            failed_) {
            return;
        }
        deviceFailed(port_->errorString());
    });
}

MSComm::~MSComm() = default;

QString MSComm::devicePath() const {
    return devicePath_.isEmpty() ? devicePathForPort(commPort_) : devicePath_;
}

void MSComm::setCommPort(int number) {
    if (programOpen_) throw RunTimeError(ErrorNumber::PortAlreadyOpen, "Port already open");
    if (number < 1 || number > kHighestPort) {
        throw RunTimeError(ErrorNumber::InvalidPortNumber,
                           "Invalid port number " + std::to_string(number));
    }
    if (number != commPort_ && devicePath_.isEmpty()) closeDevice();
    commPort_ = number;
}

void MSComm::setSettings(const QString& settings) {
    settings_ = LineSettings::parse(settings);
    settingsText_ = settings;
    if (port_->isOpen()) applySettings();
}

void MSComm::setInputLen(int characters) {
    if (characters < 0 || characters > kLongestInput) {
        throw RunTimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid property value: InputLen " + std::to_string(characters));
    }
    inputLen_ = characters;
}

void MSComm::setRThreshold(int characters) {
    if (characters < 0 || characters > kLongestInput) {
        throw RunTimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid property value: RThreshold " + std::to_string(characters));
    }
    rThreshold_ = characters;
}

void MSComm::setPortOpen(bool open) {
    if (!open) {
        programOpen_ = false;
        return;
    }
    if (programOpen_) throw RunTimeError(ErrorNumber::PortAlreadyOpen, "Port already open");
    if (failed_) closeDevice();
    if (!port_->isOpen()) openDevice();
    programOpen_ = true;
}

QByteArray MSComm::input() {
    if (!programOpen_) throw RunTimeError(ErrorNumber::PortNotOpen, "Port not open");
    takeInWaiting();
    if (!programOpen_) {
        throw RunTimeError(ErrorNumber::DeviceIoError,
                           "Device I/O error: " + devicePath().toStdString());
    }
    int most = inputLen_;
    if (nextInputLimit_ > 0 && (most == 0 || nextInputLimit_ < most)) most = nextInputLimit_;
    const QByteArray read = most == 0 ? port_->readAll() : port_->read(most);
    if (!read.isEmpty()) {
        nextInputLimit_ = 0;
        emit charactersRead(read);
    }
    return read;
}

bool MSComm::receive() {
    if (port_->isOpen() && !failed_) return true;
    if (failed_) closeDevice();
    try {
        openDevice();
    } catch (const RunTimeError&) {
        return false;
    }
    return true;
}

int MSComm::inBufferCount() const {
    return port_->isOpen() ? static_cast<int>(port_->bytesAvailable()) : 0;
}

std::chrono::nanoseconds MSComm::frameTime() const {
    return settings_.timeFor(inputLen_);
}

void MSComm::openDevice() {
    const QString path = devicePath();
    port_->setPortName(path);
    applySettings();
    if (port_->open(QIODevice::ReadOnly)) {
        failed_ = false;
        return;
    }
    const bool denied = port_->error() == QSerialPort::PermissionError;
    const QString why = port_->errorString();
    port_->clearError();
    if (denied) {
        reportOnce("denied " + path,
                   path + ": permission denied (" + why +
                       "); the user needs read access to the device, usually through the "
                       "dialout group, and no other program may hold it");
        throw RunTimeError(ErrorNumber::PermissionDenied,
                           "Permission denied: " + path.toStdString());
    }
    reportOnce("unavailable " + path, path + ": cannot open the serial device (" + why + ")");
    throw RunTimeError(ErrorNumber::DeviceUnavailable, "Device unavailable: " + path.toStdString());
}

void MSComm::closeDevice() {
    if (port_->isOpen()) port_->close();
    port_->clearError();
    failed_ = false;
}

void MSComm::applySettings() {
    port_->setBaudRate(settings_.baud);
    port_->setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_->setParity(qtParity(settings_.parity));
    port_->setStopBits(qtStopBits(settings_.stopBits));
}

void MSComm::takeInWaiting() {
    // Received bytes reach the buffer only when the port's notifier runs; a read right
    // after an open must first take in what the operating system already holds.
    if (port_->isOpen() && !failed_) port_->waitForReadyRead(0);
}

void MSComm::deviceFailed(const QString& reason) {
    // After a hang-up the device keeps reporting read errors as fast as it is asked, so
    // it is closed at the first one: the port reads as closed, and the next open retries.
    failed_ = true;
    programOpen_ = false;
    reportOnce("failed " + devicePath(), devicePath() + ": the serial device failed (" + reason +
                                             "); it is opened again at the next poll");
    // Not closed here: the port is still inside its own read when it reports the error.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (failed_) closeDevice();
        },
        Qt::QueuedConnection);
}

void MSComm::reportOnce(const QString& kind, const QString& message) {
    if (reported_.contains(kind)) return;
    reported_.insert(kind);
    qWarning().noquote() << "glove-monitor:" << message;
}

}  // namespace glove
