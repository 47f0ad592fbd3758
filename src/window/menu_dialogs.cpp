#include "window/menu_dialogs.h"

#include <QAction>
#include <QProgressDialog>
#include <QWidget>

namespace glove::menu {

void addToWindow(QWidget& window, std::initializer_list<QAction*> actions) {
    for (QAction* action : actions) {
        action->setShortcutContext(Qt::WindowShortcut);
        window.addAction(action);
    }
    window.setContextMenuPolicy(Qt::ActionsContextMenu);
}

QProgressDialog* newCountdown(QWidget& window, const QString& title) {
    auto* progress = new QProgressDialog(&window);
    progress->setWindowTitle(title);
    progress->setRange(0, kCountdownSteps);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setWindowModality(Qt::NonModal);
    return progress;
}

void tell(QPointer<QMessageBox>& box, QWidget& window, const QString& title, const QString& text) {
    if (!box) {
        box = new QMessageBox(QMessageBox::Information, title, {}, QMessageBox::Ok, &window);
        box->setWindowModality(Qt::NonModal);
    }
    box->setText(text);
    box->show();
    box->raise();
}

}  // namespace glove::menu
