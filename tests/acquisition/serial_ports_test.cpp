#include "acquisition/serial_ports.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/case_names.h"

namespace glove {
namespace {

struct Listing {
    const char* name;
    std::vector<SerialPortRecord> ports;
    QStringList lines;
};

class PortListFormat : public ::testing::TestWithParam<Listing> {};

TEST_P(PortListFormat, OneLineADeviceInNaturalOrderWithWhatIsKnown) {
    EXPECT_EQ(formatPortList(GetParam().ports).join('\n').toStdString(),
              GetParam().lines.join('\n').toStdString());
}

const QString kFtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

INSTANTIATE_TEST_SUITE_P(
    Records, PortListFormat,
    ::testing::Values(Listing{"None", {}, {"No serial ports found."}},
                      Listing{"UsbAdapter",
                              {{"/dev/ttyUSB0", kFtdiById, "FT232R USB UART", "FTDI", 0x0403,
                                0x6001, "A50285BI"}},
                              {"/dev/ttyUSB0  " + kFtdiById +
                               "  FT232R USB UART, FTDI, USB 0403:6001, "
                               "serial A50285BI"}},
                      Listing{
                          "BuiltInPortAndPartlyKnownOnes",
                          {{"/dev/ttyS10", {}, {}, {}, {}, {}, {}},
                           {"/dev/ttyUSB1", {}, {}, {}, {}, 0x7523, "1"},
                           {"/dev/ttyACM0", {}, {}, "Arduino (www.arduino.cc)", 0x2341, {}, {}},
                           {"/dev/ttyS2", {}, {}, {}, {}, {}, {}}},
                          {"/dev/ttyACM0  Arduino (www.arduino.cc), USB vendor 2341", "/dev/ttyS2",
                           "/dev/ttyS10", "/dev/ttyUSB1  USB product 7523, serial 1"}}),
    test::CaseName());

// Links as udev makes them, to files standing in for the devices.
TEST(StableNames, MapEachDeviceToItsLinkAndSkipLinksToNowhere) {
    QTemporaryDir root;
    const QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath("by-id"));
    for (const char* device : {"ttyUSB0", "ttyACM0"}) {
        QFile file(dir.filePath(device));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString byId = dir.filePath("by-id");
    ASSERT_TRUE(QFile::link("../ttyUSB0", byId + "/usb-FTDI_FT232R-if00-port0"));
    ASSERT_TRUE(QFile::link("../ttyACM0", byId + "/usb-Arduino_Uno_1-if00"));
    ASSERT_TRUE(QFile::link("../ttyACM0", byId + "/usb-Arduino_Uno_1-if01"));
    ASSERT_TRUE(QFile::link("../ttyUSB9", byId + "/usb-unplugged-if00"));

    const QHash<QString, QString> names = stableNames(byId);
    EXPECT_EQ(names.size(), 2);
    EXPECT_EQ(names.value(QFileInfo(dir.filePath("ttyUSB0")).canonicalFilePath()),
              byId + "/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(names.value(QFileInfo(dir.filePath("ttyACM0")).canonicalFilePath()),
              byId + "/usb-Arduino_Uno_1-if00");
    EXPECT_TRUE(stableNames(dir.filePath("no-such-dir")).isEmpty());
}

}  // namespace
}  // namespace glove
