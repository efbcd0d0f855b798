// "About..." where a program cannot extend the window manager's menu: the
// window's own context menu (right click).
#include "app/about.h"

#include <QAction>
#include <QWidget>

void AddAboutMenuItem(QWidget* window)
{
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* separator = new QAction(window);
    separator->setSeparator(true);
    window->addAction(separator);
    auto* about = new QAction("About...", window);
    QObject::connect(about, &QAction::triggered, window, [] { HandleSysCommand(SC_ABOUT); });
    window->addAction(about);
}

// No native menu messages here: the context menu's action calls the handler.
bool HandleSystemMenuMessage(const QByteArray&, void*, qintptr*) { return false; }
