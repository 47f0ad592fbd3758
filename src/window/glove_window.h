#pragma once

#include <QByteArray>
#include <QWidget>
#include <functional>
#include <string>

#include "monitor/glove_display.h"
#include "monitor/glove_pipeline.h"
#include "window/exit_command.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace glove {

class HandFigure;

// The program's one window. It owns its controls and wires three events: Connect runs
// the Connect loop, Exit the Exit command, and the serial control's OnComm a poll, all
// on the pipeline it shows.
class GloveWindow final : public QWidget, public GloveDisplay {
    Q_OBJECT

  public:
    static inline const QString kCaption = QStringLiteral("Zarquin's Wireless VR Glove");

    struct Options {
        QString device;  // empty: serial port 2's device
        std::string exchangePath = std::string(exchange::kDefaultPath);
        // How Exit ends the program; tests record it instead.
        std::function<void()> endProgram;
        FrameFeed* feed = nullptr;  // takes every frame the poll reads whole
        // Told each text the text box takes, as the box shows it.
        std::function<void(const QString&)> textShown = {};
    };

    explicit GloveWindow(Options options, QWidget* parent = nullptr);
    ~GloveWindow() override;

    void Command1_Click();
    void Exit_Click();
    void MSComm1_OnComm();

    // GloveDisplay: what the Connect loop changes.
    void setText(const QString& text) override;
    void setThumbLeft(float left) override;
    void setThumbWidth(float width) override;
    void setFingerTop(int finger, float top) override;

    // The controls, by their names on the window.
    [[nodiscard]] QLineEdit* Text1() const { return text1_; }
    [[nodiscard]] QPushButton* Command1() const { return command1_; }
    [[nodiscard]] QPushButton* Exit() const { return exit_; }
    [[nodiscard]] QLabel* Picture1() const { return picture1_; }
    [[nodiscard]] HandFigure* Picture2() const { return picture2_; }
    [[nodiscard]] QLabel* Label1() const { return label1_; }
    [[nodiscard]] MSComm& MSComm1() { return pipeline_.comm(); }
    [[nodiscard]] const QByteArray& DataF() const { return pipeline_.dataF(); }
    [[nodiscard]] const ConnectLoop& connectLoop() const { return pipeline_.loop(); }

  protected:
    // Closing the window is an Exit: a running loop would otherwise outlive the window.
    void closeEvent(QCloseEvent* event) override;

  private:
    void endProgram();
    void showProblem(const QString& problem);

    std::function<void()> endProgram_;
    std::function<void(const QString&)> textShown_;
    QLineEdit* text1_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* exit_ = nullptr;
    QLabel* picture1_ = nullptr;
    HandFigure* picture2_ = nullptr;
    QLabel* label1_ = nullptr;

    GlovePipeline pipeline_;
    ExitCommand exitCommand_;
    QString text_;             // the text the loop last gave the text box
    bool textQueued_ = false;  // it goes into the box when the window next handles events
    bool ending_ = false;
};

}  // namespace glove
