// Gang mode: one unit on each of several ports at once. Each unit's run is
// a morvex-flash-cli process of its own (this program again, with the same
// options, its one port and --progress-feed), so a failure, a hang-up or a
// hang on one port never stops or slows the others. The parent reads each
// child's feed: on a terminal it keeps a live table, one line per port;
// otherwise it prints each step's line and each message prefixed with the
// port. At the end a summary table; the exit status is 0 only when every
// unit passed. Ctrl-C (SIGTERM, SIGQUIT) is passed on to every child, which
// stops at its next safe point; a second one ends the children at once.
#pragma once

#include "cli/gangtable.h"
#include "cli/options.h"
#include "cli/terminaloperator.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class QProcess;
class TInterruptWatch;

class TGang : public QObject {
public:
    // unitCommand: the program (and leading arguments) that runs one unit,
    // the unit's options following; empty: this program itself.
    TGang(const TCliOptions& options, TInterruptWatch& interrupts, const TTerminal& terminal,
          const QStringList& unitCommand);
    ~TGang() override;

    // Every unit to its end: 0 when every unit passed, otherwise the code
    // for some units failing.
    int Run();

private:
    struct TMember {
        TGangUnit Unit;
        QProcess* Process = nullptr;
        QElapsedTimer Clock;
        QByteArray Pending[2]; // standard output and error up to their next line end
    };
    void Start(TMember& member);
    void Read(TMember& member, int stream);
    void TakeLine(TMember& member, const QByteArray& line, int stream);
    void TakeFeed(TMember& member, const QJsonObject& feed);
    void Ended(TMember& member, int exitCode, bool crashed);
    void Interrupted();
    // A line about one unit: above the live table, or plainly.
    void Say(const TMember& member, const std::string& text, bool error);
    void EraseTable();
    void DrawTable();

    const TCliOptions& FOptions;
    TInterruptWatch& FInterrupts;
    QStringList FUnitCommand;
    bool FLiveTable;
    std::vector<std::unique_ptr<TMember>> FMembers;
    QEventLoop FLoop;
    QTimer FRedraw;
    size_t FDrawnLines = 0;
    size_t FPortWidth = 0;
    int FRunning = 0;
    int FInterruptCount = 0;
};

// The platform's part (gangchild_posix.cpp, gangchild_win32.cpp): a child
// apart from the terminal's Ctrl-C, which the parent passes on itself, and
// the stop request that reaches it.
void PrepareGangChild(QProcess& process);
void StopGangChild(QProcess& process);
