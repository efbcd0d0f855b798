#include "objectcensus.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <mutex>
#include <unordered_set>

// Qt's hook table (declared in its private qhooks_p.h): slot 2 holds the Qt
// version, slots 3 and 4 the callbacks for objects created and destroyed.
extern quintptr qtHookData[];

namespace {
enum { kQtVersion = 2, kAddObject = 3, kRemoveObject = 4 };
using THook = void (*)(QObject*);

std::mutex censusLock;
std::unordered_set<QObject*>& Alive()
{
    static std::unordered_set<QObject*> alive;
    return alive;
}
THook previousAdd = nullptr;
THook previousRemove = nullptr;

void Added(QObject* object)
{
    {
        std::lock_guard<std::mutex> lock(censusLock);
        Alive().insert(object);
    }
    if (previousAdd) previousAdd(object);
}

void Removed(QObject* object)
{
    {
        std::lock_guard<std::mutex> lock(censusLock);
        Alive().erase(object);
    }
    if (previousRemove) previousRemove(object);
}
}

bool StartObjectCensus()
{
    if ((qtHookData[kQtVersion] >> 16) != 6) return false;
    static std::once_flag started;
    std::call_once(started, [] {
        previousAdd = reinterpret_cast<THook>(qtHookData[kAddObject]);
        previousRemove = reinterpret_cast<THook>(qtHookData[kRemoveObject]);
        qtHookData[kAddObject] = reinterpret_cast<quintptr>(&Added);
        qtHookData[kRemoveObject] = reinterpret_cast<quintptr>(&Removed);
    });
    return true;
}

TObjectCount CountObjects()
{
    TObjectCount count;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    std::lock_guard<std::mutex> lock(censusLock);
    for (QObject* object : Alive()) {
        ++count.Objects;
        if (auto* timer = qobject_cast<QTimer*>(object)) {
            ++count.Timers;
            if (timer->isActive()) ++count.ActiveTimers;
        }
        if (dispatcher && object->thread() == dispatcher->thread())
            count.RegisteredTimers += size_t(dispatcher->registeredTimers(object).size());
    }
    return count;
}
