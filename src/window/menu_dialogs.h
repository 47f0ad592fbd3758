#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <chrono>
#include <initializer_list>

class QAction;
class QProgressDialog;
class QWidget;

// What the window's context menus share. Their dialogs are modeless and return at once, so
// that the Connect loop goes on handling frames while one is open.
namespace glove::menu {

inline constexpr int kCountdownSteps = 1000;
inline constexpr std::chrono::milliseconds kCountdownTick{100};

// Puts `actions` in the window's context menu, each shortcut working anywhere in the window.
void addToWindow(QWidget& window, std::initializer_list<QAction*> actions);

// A countdown of kCountdownSteps over the window, which stays open until hidden.
QProgressDialog* newCountdown(QWidget& window, const QString& title);

// Shows `text` in `box`, made over the window the first time.
void tell(QPointer<QMessageBox>& box, QWidget& window, const QString& title, const QString& text);

}  // namespace glove::menu
