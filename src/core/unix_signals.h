#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns SIGHUP, SIGINT and SIGTERM into a Qt signal on the event thread (through a
// socket pair, the one thing a signal handler may safely write to). One
// instance per process: the handlers are process-wide.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignals(QObject *parent = nullptr);
    ~UnixSignals() override;

    // "SIGTERM" and the like, for log lines.
    static QString name(int signalNumber);

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
