// "About..." in the window's own system menu (the menu behind the window
// icon and Alt+Space), as Windows programs have it.
#include "app/about.h"

#include <QWidget>
#include <windows.h>

void AddAboutMenuItem(QWidget* window)
{
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
    if (!menu) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, SC_ABOUT, "About...");
}

bool HandleSystemMenuMessage(const QByteArray& eventType, void* message, qintptr* result)
{
    if (eventType != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    // The entry's own command number arrives as is; the system's commands
    // (with their four low bits in use) go on to the default handling.
    if (msg->message != WM_SYSCOMMAND || msg->wParam != WPARAM(SC_ABOUT)) return false;
    HandleSysCommand(SC_ABOUT);
    *result = 0;
    return true;
}
