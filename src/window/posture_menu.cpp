#include "window/posture_menu.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "window/menu_dialogs.h"

namespace glove {

namespace {

using Clock = posture::PostureWatch::Clock;

QString quoted(const QString& name) {
    return '"' + name + '"';
}

// A fault as the postures tell it ("a posture needs a name") as a sentence of its own.
QString sentence(const std::string& fault) {
    if (fault.empty()) return {};
    QString text = QString::fromStdString(fault);
    text[0] = text[0].toUpper();
    return text + '.';
}

// "64", or "64, played by "fist"" for a note another posture plays.
QString noteText(const posture::PostureSet& set, int note) {
    const posture::Posture* player = set.playing(note);
    return player == nullptr ? QString::number(note)
                             : QStringLiteral("%1, played by %2")
                                   .arg(note)
                                   .arg(quoted(QString::fromStdString(player->name)));
}

QString countdownText(const QString& name, Clock::duration left) {
    return QStringLiteral("Hold the hand still in the posture %1 until the time is up: %2 s left")
        .arg(quoted(name))
        .arg(std::chrono::ceil<std::chrono::seconds>(left).count());
}

}  // namespace

PostureMenu::PostureMenu(Options options, QWidget& window)
    : watch_(options.watch),
      time_(options.time),
      keep_(std::move(options.keep)),
      kept_(std::move(options.kept)),
      window_(window),
      learnAction_(new QAction(kLearnText, &window)),
      posturesAction_(new QAction(kPosturesText, &window)) {
    learnAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    posturesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    auto* separator = new QAction(&window);
    separator->setSeparator(true);
    window.addAction(separator);
    menu::addToWindow(window, {learnAction_, posturesAction_});
    connect(learnAction_, &QAction::triggered, this, &PostureMenu::learn);
    connect(posturesAction_, &QAction::triggered, this, &PostureMenu::showPostures);
    ticker_.setInterval(menu::kCountdownTick);
    connect(&ticker_, &QTimer::timeout, this, &PostureMenu::tick);
}

PostureMenu::~PostureMenu() {
    delete nameDialog_;
    delete question_;
    delete progress_;
    delete postures_;
    delete message_;
}

void PostureMenu::learn() {
    askLearning({});
}

// Asks for the name and the note of a posture to learn, `name` filled in. A name that is kept
// already may be relearnt, and keeps its note; any other refused name or note is told in the
// dialog, which asks again.
void PostureMenu::askLearning(const QString& name) {
    if (showRunningLearning()) return;
    const auto fault = [this](const QString& typed, Note note) {
        posture::PostureSet trial = watch_.postures();
        return trial.add({typed.toStdString(), {}, note});
    };
    askName(
        kLearnText.chopped(1), name, Asked::NameAndNote, {},
        [this, fault](const QString& typed, Note note) {
            return watch_.postures().find(typed.toStdString()) != nullptr
                       ? QString{}
                       : sentence(fault(typed, note));
        },
        [this, fault](const QString& typed, Note note) {
            const posture::Posture* kept = watch_.postures().find(typed.toStdString());
            if (kept == nullptr) {
                startLearning(typed, false, note);
                return;
            }
            ask(
                sentence(fault(typed, {})) +
                    QStringLiteral(" Relearn it? It keeps its note, %1.").arg(*kept->note),
                [this, typed] { startLearning(typed, true); },
                [this, typed] { askLearning(typed); });
        });
}

void PostureMenu::askName(const QString& title, const QString& name, Asked asked, Note note,
                          Check check, Accepted accepted) {
    if (!nameDialog_) {
        nameDialog_ = new QDialog(&window_);
        nameDialog_->setWindowModality(Qt::NonModal);  // the Connect loop runs on
        nameRow_ = new QWidget(nameDialog_);
        nameEdit_ = new QLineEdit(nameRow_);
        nameEdit_->setMinimumWidth(nameEdit_->fontMetrics().averageCharWidth() *
                                   static_cast<int>(posture::kLongestName));
        auto* nameLayout = new QVBoxLayout(nameRow_);
        nameLayout->setContentsMargins({});
        nameLayout->addWidget(new QLabel(QStringLiteral("Name of the posture:"), nameRow_));
        nameLayout->addWidget(nameEdit_);
        noteRow_ = new QWidget(nameDialog_);
        noteChoice_ = new QComboBox(noteRow_);
        noteChoice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);  // a posture's long name
        auto* noteLayout = new QHBoxLayout(noteRow_);
        noteLayout->setContentsMargins({});
        noteLayout->addWidget(new QLabel(QStringLiteral("MIDI note:"), noteRow_));
        noteLayout->addWidget(noteChoice_, 1);
        nameFault_ = new QLabel(nameDialog_);
        nameFault_->setObjectName(QStringLiteral("fault"));
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, nameDialog_);
        auto* layout = new QVBoxLayout(nameDialog_);
        layout->addWidget(nameRow_);
        layout->addWidget(noteRow_);
        layout->addWidget(nameFault_);
        layout->addWidget(buttons);
        layout->setSizeConstraint(QLayout::SetFixedSize);  // grows to show a fault whole
        // OK closes the dialog only for a name and note that are not refused.
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            const QString typed = nameEdit_->text();
            const QVariant data = noteChoice_->currentData();
            const Note chosen = data.isValid() ? Note(data.toInt()) : Note();
            if (const QString fault = checkName_(typed, chosen); !fault.isEmpty()) {
                nameFault_->setText(fault);
                (nameRow_->isVisible() ? static_cast<QWidget*>(nameEdit_) : noteChoice_)
                    ->setFocus();
                return;
            }
            nameDialog_->accept();
            nameAccepted_(typed, chosen);
        });
        connect(buttons, &QDialogButtonBox::rejected, nameDialog_, &QDialog::reject);
    }
    checkName_ = std::move(check);
    nameAccepted_ = std::move(accepted);
    nameDialog_->setWindowTitle(title);
    nameRow_->setVisible(asked != Asked::Note);
    noteRow_->setVisible(asked != Asked::Name);
    nameEdit_->setText(name);
    nameEdit_->selectAll();
    // Every note, each taken one named with its posture: a musician sees the patch's map.
    const posture::PostureSet& set = watch_.postures();
    noteChoice_->clear();
    if (asked == Asked::NameAndNote) {
        noteChoice_->addItem(QStringLiteral("Next free: %1").arg(set.nextNote()));
    }
    for (int n = posture::kLowestNote; n <= posture::kHighestNote; ++n) {
        noteChoice_->addItem(noteText(set, n), n);
    }
    noteChoice_->setCurrentIndex(note ? noteChoice_->findData(*note) : 0);
    nameFault_->clear();
    if (asked == Asked::Note) noteChoice_->setFocus();
    nameDialog_->show();
    nameDialog_->raise();
    nameDialog_->activateWindow();
}

void PostureMenu::ask(const QString& text, std::function<void()> yes, std::function<void()> no) {
    if (!question_) {
        question_ = new QMessageBox(QMessageBox::Question, kPosturesText.chopped(1), {},
                                    QMessageBox::Yes | QMessageBox::No, &window_);
        question_->setWindowModality(Qt::NonModal);
        connect(question_, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
            const auto answer = question_->standardButton(button) == QMessageBox::Yes ? yes_ : no_;
            if (answer) answer();
        });
    }
    yes_ = std::move(yes);
    no_ = std::move(no);
    question_->setText(text);
    question_->show();
    question_->raise();
}

// One learning at a time: asked for another, the one running is shown instead.
bool PostureMenu::showRunningLearning() {
    if (!watch_.learning()) return false;
    if (progress_) {
        progress_->show();
        progress_->raise();
    }
    return true;
}

void PostureMenu::startLearning(const QString& name, bool again, Note note) {
    if (showRunningLearning()) return;
    learning_ = name;
    relearning_ = again;
    learningNote_ = note;
    const auto now = Clock::now();
    watch_.startLearning(now, time_);
    if (!progress_) {
        progress_ = menu::newCountdown(window_, kLearnText.chopped(1));
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            if (!watch_.learning()) return;
            watch_.cancelLearning();
            ticker_.stop();
            tell(QStringLiteral("Learning %1 cancelled; the postures stay as they were.")
                     .arg(quoted(learning_)));
        });
    }
    progress_->setLabelText(countdownText(name, watch_.left(now)));
    progress_->setValue(0);
    progress_->show();
    progress_->raise();
    ticker_.start();
}

void PostureMenu::tick() {
    const auto now = Clock::now();
    const std::string name = learning_.toStdString();
    const auto learnt = watch_.finishLearningIfDue(now, name);
    if (!learnt) {
        progress_->setLabelText(countdownText(learning_, watch_.left(now)));
        const double done = 1.0 - std::chrono::duration<double>(watch_.left(now)) / time_;
        progress_->setValue(static_cast<int>(done * menu::kCountdownSteps));
        return;
    }
    ticker_.stop();
    progress_->hide();
    const QString posture = QStringLiteral("Posture ") + quoted(learning_);
    const QString done = relearning_ ? QStringLiteral("relearnt") : QStringLiteral("learnt");
    const QString refused = posture + QStringLiteral(" not ") + done;
    if (!learnt->fault.empty()) {
        tell(refused + QStringLiteral(": ") + QString::fromStdString(learnt->fault) + '.');
        return;
    }
    const bool again = relearning_;
    posture::Posture p = learnt->posture;
    p.note = learningNote_;
    const bool kept = change(refused, [&](posture::PostureSet& set) {
        return again ? set.relearn(name, p.values) : set.add(p);
    });
    if (!kept) return;
    tell(again ? posture + ' ' + done + '.'
               : QStringLiteral("%1 %2: it plays note %3.")
                     .arg(posture, done)
                     .arg(*watch_.postures().find(name)->note));
}

// Puts the postures `edit` makes of those in force in force, once kept. False, with the
// reason told, when the edit is refused or the set cannot be kept: the postures stay.
bool PostureMenu::change(const QString& refused, const Edit& edit) {
    posture::PostureSet next = kept_ ? kept_() : watch_.postures();
    if (const std::string fault = edit(next); !fault.empty()) {
        tell(refused + QStringLiteral(": ") + QString::fromStdString(fault) + '.');
        return false;
    }
    if (const QString problem = keep_(next); !problem.isEmpty()) {
        tell(refused + QStringLiteral(": ") + problem);
        return false;
    }
    watch_.setPostures(std::move(next));
    if (postures_) listPostures(selected());
    return true;
}

void PostureMenu::showPostures() {
    if (!postures_) {
        postures_ = new QDialog(&window_);
        postures_->setWindowTitle(kPosturesText.chopped(1));
        postures_->setWindowModality(Qt::NonModal);
        list_ = new QListWidget(postures_);
        rename_ = new QPushButton(kRenameText, postures_);
        relearn_ = new QPushButton(kRelearnText, postures_);
        note_ = new QPushButton(kNoteText, postures_);
        remove_ = new QPushButton(kRemoveText, postures_);
        auto* close = new QPushButton(QStringLiteral("Close"), postures_);
        auto* buttons = new QVBoxLayout;
        for (QPushButton* button : {rename_, relearn_, note_, remove_}) {
            button->setAutoDefault(false);
            button->setEnabled(false);  // until a posture is chosen
            buttons->addWidget(button);
        }
        buttons->addStretch();
        buttons->addWidget(close);
        auto* layout = new QHBoxLayout(postures_);
        layout->addWidget(list_);
        layout->addLayout(buttons);
        connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
            for (QPushButton* button : {rename_, relearn_, note_, remove_}) {
                button->setEnabled(row >= 0);
            }
        });
        connect(close, &QPushButton::clicked, postures_, &QDialog::close);
        connect(rename_, &QPushButton::clicked, this, [this] {
            const QString from = selected();
            askName(
                kRenameText.chopped(1) + ' ' + quoted(from), from, Asked::Name, {},
                [this, from](const QString& to, Note) {
                    posture::PostureSet trial = watch_.postures();
                    return sentence(trial.rename(from.toStdString(), to.toStdString()));
                },
                [this, from](const QString& to, Note) {
                    if (to == from) return;
                    if (change(QStringLiteral("Posture %1 not renamed").arg(quoted(from)),
                               [&](posture::PostureSet& set) {
                                   return set.rename(from.toStdString(), to.toStdString());
                               })) {
                        listPostures(to);
                    }
                });
        });
        connect(relearn_, &QPushButton::clicked, this, [this] { startLearning(selected(), true); });
        connect(note_, &QPushButton::clicked, this, [this] { askNote(selected()); });
        connect(remove_, &QPushButton::clicked, this, [this] {
            const QString name = selected();
            ask(QStringLiteral("Remove the posture %1?").arg(quoted(name)),
                [this, name] {
                    change(QStringLiteral("Posture %1 not removed").arg(quoted(name)),
                           [&](posture::PostureSet& set) {
                               return set.remove(name.toStdString()) ? std::string{}
                                                                     : "it is no longer kept";
                           });
                },
                {});
        });
    }
    listPostures(selected());
    postures_->show();
    postures_->raise();
    postures_->activateWindow();
}

// Asks for the note the posture `name` plays; a note another plays is refused in the dialog.
void PostureMenu::askNote(const QString& name) {
    const posture::Posture* p = watch_.postures().find(name.toStdString());
    if (p == nullptr) return;
    askName(
        kNoteText.chopped(1) + ' ' + quoted(name), name, Asked::Note, p->note,
        [this, name](const QString&, Note note) {
            posture::PostureSet trial = watch_.postures();
            return sentence(trial.setNote(name.toStdString(), *note));
        },
        [this, name, from = p->note](const QString&, Note note) {
            if (note == from) return;
            change(
                QStringLiteral("The note of posture %1 not changed").arg(quoted(name)),
                [&](posture::PostureSet& set) { return set.setNote(name.toStdString(), *note); });
        });
}

QString PostureMenu::selected() const {
    const QListWidgetItem* item = list_ == nullptr ? nullptr : list_->currentItem();
    return item == nullptr ? QString{} : item->data(Qt::UserRole).toString();
}

// Lists the postures in force with their notes, `select` chosen when it is one of them, else
// the first.
void PostureMenu::listPostures(const QString& select) {
    list_->clear();
    int row = -1;
    for (const posture::Posture& p : watch_.postures().postures()) {
        const QString name = QString::fromStdString(p.name);
        auto* item = new QListWidgetItem(QStringLiteral("%1 (note %2)").arg(name).arg(*p.note));
        item->setData(Qt::UserRole, name);
        if (name == select) row = list_->count();
        list_->addItem(item);
    }
    list_->setCurrentRow(row >= 0 ? row : (list_->count() > 0 ? 0 : -1));
}

void PostureMenu::tell(const QString& text) {
    outcome_ = text;
    menu::tell(message_, window_, kPosturesText.chopped(1), text);
}

}  // namespace glove
