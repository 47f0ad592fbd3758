#include "window/posture_menu.h"

#include <QAction>
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

// Asks for the name of a posture to learn, `name` filled in. A name that is kept already
// may be relearnt; any other refused name is told in the dialog, which asks again.
void PostureMenu::askLearning(const QString& name) {
    if (showRunningLearning()) return;
    const auto fault = [this](const QString& typed) {
        posture::PostureSet trial = watch_.postures();
        return trial.add({typed.toStdString(), {}});
    };
    askName(
        kLearnText.chopped(1), name,
        [this, fault](const QString& typed) {
            return watch_.postures().find(typed.toStdString()) != nullptr ? QString{}
                                                                          : sentence(fault(typed));
        },
        [this, fault](const QString& typed) {
            if (watch_.postures().find(typed.toStdString()) == nullptr) {
                startLearning(typed, false);
                return;
            }
            ask(
                sentence(fault(typed)) + QStringLiteral(" Relearn it?"),
                [this, typed] { startLearning(typed, true); },
                [this, typed] { askLearning(typed); });
        });
}

void PostureMenu::askName(const QString& title, const QString& name,
                          std::function<QString(const QString&)> check,
                          std::function<void(const QString&)> accepted) {
    if (!nameDialog_) {
        nameDialog_ = new QDialog(&window_);
        nameDialog_->setWindowModality(Qt::NonModal);  // the Connect loop runs on
        nameEdit_ = new QLineEdit(nameDialog_);
        nameFault_ = new QLabel(nameDialog_);
        nameFault_->setObjectName(QStringLiteral("fault"));
        nameEdit_->setMinimumWidth(nameEdit_->fontMetrics().averageCharWidth() *
                                   static_cast<int>(posture::kLongestName));
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, nameDialog_);
        auto* layout = new QVBoxLayout(nameDialog_);
        layout->addWidget(new QLabel(QStringLiteral("Name of the posture:"), nameDialog_));
        layout->addWidget(nameEdit_);
        layout->addWidget(nameFault_);
        layout->addWidget(buttons);
        layout->setSizeConstraint(QLayout::SetFixedSize);  // grows to show a fault whole
        // OK closes the dialog only for a name that is not refused.
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            const QString typed = nameEdit_->text();
            if (const QString fault = checkName_(typed); !fault.isEmpty()) {
                nameFault_->setText(fault);
                nameEdit_->setFocus();
                return;
            }
            nameDialog_->accept();
            nameAccepted_(typed);
        });
        connect(buttons, &QDialogButtonBox::rejected, nameDialog_, &QDialog::reject);
    }
    checkName_ = std::move(check);
    nameAccepted_ = std::move(accepted);
    nameDialog_->setWindowTitle(title);
    nameEdit_->setText(name);
    nameEdit_->selectAll();
    nameFault_->clear();
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

void PostureMenu::startLearning(const QString& name, bool again) {
    if (showRunningLearning()) return;
    learning_ = name;
    relearning_ = again;
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
    const bool kept = change(refused, [&](posture::PostureSet& set) {
        return again ? set.relearn(name, learnt->posture.values) : set.add(learnt->posture);
    });
    if (kept) tell(posture + ' ' + done + '.');
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
        remove_ = new QPushButton(kRemoveText, postures_);
        auto* close = new QPushButton(QStringLiteral("Close"), postures_);
        auto* buttons = new QVBoxLayout;
        for (QPushButton* button : {rename_, relearn_, remove_}) {
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
            for (QPushButton* button : {rename_, relearn_, remove_}) button->setEnabled(row >= 0);
        });
        connect(close, &QPushButton::clicked, postures_, &QDialog::close);
        connect(rename_, &QPushButton::clicked, this, [this] {
            const QString from = selected();
            askName(
                kRenameText.chopped(1) + ' ' + quoted(from), from,
                [this, from](const QString& to) {
                    posture::PostureSet trial = watch_.postures();
                    return sentence(trial.rename(from.toStdString(), to.toStdString()));
                },
                [this, from](const QString& to) {
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

QString PostureMenu::selected() const {
    const QListWidgetItem* item = list_ == nullptr ? nullptr : list_->currentItem();
    return item == nullptr ? QString{} : item->text();
}

// Lists the postures in force, `select` chosen when it is one of them, else the first.
void PostureMenu::listPostures(const QString& select) {
    list_->clear();
    for (const posture::Posture& p : watch_.postures().postures()) {
        list_->addItem(QString::fromStdString(p.name));
    }
    const auto found = list_->findItems(select, Qt::MatchExactly);
    list_->setCurrentRow(found.isEmpty() ? (list_->count() > 0 ? 0 : -1) : list_->row(found[0]));
}

void PostureMenu::tell(const QString& text) {
    outcome_ = text;
    menu::tell(message_, window_, kPosturesText.chopped(1), text);
}

}  // namespace glove
