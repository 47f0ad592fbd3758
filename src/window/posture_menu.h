#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "posture/posture_watch.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace glove {

// The window's context menu for postures: "Learn posture…" asks for a name and a note and
// counts down while the wearer holds the hand still, and "Postures…" lists those learnt with
// their notes, to rename, relearn, change the note of or remove. Every dialog is modeless and
// returns at once, so the Connect loop goes on handling frames while one is open. A changed
// set is put in force only once it is kept.
class PostureMenu final : public QObject {
    Q_OBJECT

  public:
    static inline const QString kLearnText = QStringLiteral("Learn posture\u2026");
    static inline const QString kPosturesText = QStringLiteral("Postures\u2026");
    static inline const QString kRenameText = QStringLiteral("Rename\u2026");
    static inline const QString kRelearnText = QStringLiteral("Relearn");
    static inline const QString kNoteText = QStringLiteral("Note\u2026");
    static inline const QString kRemoveText = QStringLiteral("Remove");

    struct Options {
        posture::PostureWatch& watch;
        std::chrono::milliseconds time = posture::kDefaultLearningTime;
        // Required: keeps a changed set of postures; empty when kept, else what went wrong.
        std::function<QString(const posture::PostureSet&)> keep;
        // The postures kept now, which a change starts from, so that one kept meanwhile by
        // another start is not lost; without it, a change starts from those in force.
        std::function<posture::PostureSet()> kept;
    };

    PostureMenu(Options options, QWidget& window);
    ~PostureMenu() override;

    // Ctrl+L and Ctrl+Shift+L, on the window and in its context menu.
    [[nodiscard]] QAction* learnAction() const { return learnAction_; }
    [[nodiscard]] QAction* posturesAction() const { return posturesAction_; }

    void learn();
    void showPostures();

    // The dialogs, once opened (null before): the name and note asked for, a yes-or-no
    // question, the learning's countdown and the list of postures.
    [[nodiscard]] QDialog* nameDialog() const { return nameDialog_; }
    [[nodiscard]] QMessageBox* question() const { return question_; }
    [[nodiscard]] QProgressDialog* countdown() const { return progress_; }
    [[nodiscard]] QDialog* posturesDialog() const { return postures_; }
    // The last outcome told to the user.
    [[nodiscard]] QString outcome() const { return outcome_; }

  private:
    using Edit = std::function<std::string(posture::PostureSet&)>;
    // A note chosen; none for the next free one.
    using Note = std::optional<int>;
    // What the name dialog asks for besides the name, or instead of it.
    enum class Asked { Name, NameAndNote, Note };
    using Check = std::function<QString(const QString&, Note)>;
    using Accepted = std::function<void(const QString&, Note)>;

    void askLearning(const QString& name);
    // `note` is the one chosen at first; asked for a name and a note, the next free one is
    // offered first.
    void askName(const QString& title, const QString& name, Asked asked, Note note, Check check,
                 Accepted accepted);
    void askNote(const QString& name);
    void ask(const QString& text, std::function<void()> yes, std::function<void()> no);
    bool showRunningLearning();
    void startLearning(const QString& name, bool again, Note note = {});
    void tick();
    bool change(const QString& refused, const Edit& edit);
    [[nodiscard]] QString selected() const;
    void listPostures(const QString& select);
    void tell(const QString& text);

    posture::PostureWatch& watch_;
    std::chrono::milliseconds time_;
    std::function<QString(const posture::PostureSet&)> keep_;
    std::function<posture::PostureSet()> kept_;
    QWidget& window_;
    QAction* learnAction_ = nullptr;
    QAction* posturesAction_ = nullptr;
    QTimer ticker_;
    QString learning_;  // the name of the posture being learnt
    bool relearning_ = false;
    Note learningNote_;

    QPointer<QDialog> nameDialog_;
    QWidget* nameRow_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QWidget* noteRow_ = nullptr;
    QComboBox* noteChoice_ = nullptr;
    QLabel* nameFault_ = nullptr;
    Check checkName_;
    Accepted nameAccepted_;

    QPointer<QMessageBox> question_;
    std::function<void()> yes_;
    std::function<void()> no_;

    QPointer<QProgressDialog> progress_;

    QPointer<QDialog> postures_;
    QListWidget* list_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* relearn_ = nullptr;
    QPushButton* note_ = nullptr;
    QPushButton* remove_ = nullptr;

    QPointer<QMessageBox> message_;
    QString outcome_;
};

}  // namespace glove
