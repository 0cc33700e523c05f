#pragma once

#include "channel.h"
#include "frame_reader.h"

class QSocketNotifier;

// The floor of every measurement: a client that opens the device's pty itself and writes and
// reads frames, as a program on the device's own machine could.
class PtyChannel : public Channel
{
    Q_OBJECT

public:
    explicit PtyChannel(const QString &path, QObject *parent = nullptr);
    ~PtyChannel() override;

    void open() override;
    void sendCommand(const QByteArray &message) override;
    void close() override;

private:
    void readFrames();

    QString m_path;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    FrameReader m_frames;
};
