#pragma once

#include <QObject>

// Turns SIGINT and SIGTERM into a Qt signal on the event thread, through a
// socket pair: the one thing a signal handler may safely write to.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

Q_SIGNALS:
    void stopRequested();

private:
    void readSignal();
};
