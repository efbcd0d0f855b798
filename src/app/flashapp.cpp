#include "app/flashapp.h"

#include "app/messageboxes.h"

#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <memory>

namespace {
std::string& titleText()
{
    static std::string title = ProgramTitle;
    return title;
}

QPointer<QWidget>& mainForm()
{
    static QPointer<QWidget> form;
    return form;
}

}

std::string ApplicationTitle() { return titleText(); }

void SetApplicationTitle(const std::string& title) { titleText() = title; }

QWidget* MainForm() { return mainForm(); }

void SetMainForm(QWidget* form) { mainForm() = form; }

namespace {
void centreOn(QWidget* window, const QRect& area)
{
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}
}

namespace {
// Centres a window on the screen again once it is shown: only then does the
// window system give it its frame, whose size the first centring could not
// know.
class TCentreWhenShown : public QObject {
public:
    explicit TCentreWhenShown(QWidget* window) : QObject(window) { window->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            QPointer<QWidget> window = static_cast<QWidget*>(watched);
            QTimer::singleShot(0, window, [window] {
                if (QScreen* screen = QGuiApplication::primaryScreen()) centreOn(window, screen->availableGeometry());
            });
            deleteLater();
        }
        return false;
    }
};
}

void CentreOnScreen(QWidget* window)
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) centreOn(window, screen->availableGeometry());
    if (!window->isVisible()) new TCentreWhenShown(window);
}

void CentreOnMainForm(QWidget* window)
{
    QWidget* form = MainForm();
    if (form && form != window)
        centreOn(window, form->frameGeometry());
    else
        CentreOnScreen(window);
}

namespace {
bool& runUnderWay()
{
    static bool underWay = false;
    return underWay;
}
}

bool RunUnderWay() { return runUnderWay(); }

void SetRunUnderWay(bool underWay) { runUnderWay() = underWay; }

TFlashApplication::TFlashApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TFlashApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        ShowException(failure);
    } catch (...) {
        ShowErrorBox("An unexpected failure occurred.");
    }
    return true;
}
