#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// A simulated QX-USB device on a pseudo-terminal. The server opens the pty's
// slave side like a real serial port; the device answers the probe F2 02 03 F3
// with 61 82 E3 and every other request by echoing the request's message in an
// answer frame (FF FE + message). It can send broadcast frames and raw bytes, go
// silent, be unplugged (the pty goes away, which the server sees as a hang-up)
// and plugged in again (a new pty; the link path, when set, follows it).
class SimulatedDevice : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedDevice(QObject *parent = nullptr);
    ~SimulatedDevice() override;

    // A symlink that always points at the current pty slave; set before plug().
    void setLinkPath(const QString &path) { m_linkPath = path; }
    const QString &linkPath() const { return m_linkPath; }
    // Silent: requests are read and recorded but not answered.
    void setSilent(bool silent) { m_silent = silent; }
    bool isSilent() const { return m_silent; }
    // Delay before an answer is written, in milliseconds.
    void setAnswerDelay(int milliseconds) { m_answerDelayMs = milliseconds; }

    // Creates a new pty (and points the link at it); false with errorString()
    // on failure. Plugging a plugged device does nothing and returns true.
    bool plug();
    // Closes the pty: the server's port sees a hang-up.
    void unplug();
    bool isPlugged() const { return m_masterFd >= 0; }

    // The pty slave's path, e.g. /dev/pts/7; empty while unplugged.
    const QString &slavePath() const { return m_slavePath; }
    // The path a server should open: the link when set, else the slave.
    QString devicePath() const { return m_linkPath.isEmpty() ? m_slavePath : m_linkPath; }
    QString errorString() const { return m_error; }

    // Writes FF FD + message.
    void sendBroadcast(const QByteArray &message);
    // Writes the bytes as they stand (garbage, partial frames).
    void sendRaw(const QByteArray &bytes);

    // Every request message received so far (without FF FE), oldest first.
    const QList<QByteArray> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    // The probe and its answer.
    static QByteArray probeRequest();
    static QByteArray probeAnswer();

Q_SIGNALS:
    // A complete request frame arrived (its message, without FF FE).
    void requestReceived(const QByteArray &message);
    // An answer was written (its message, without FF FE).
    void answerSent(const QByteArray &message);

private:
    void readMaster();
    void handleRequest(const QByteArray &message);
    void writeAll(const QByteArray &bytes);
    void updateLink();

    int m_masterFd = -1;
    int m_slaveFd = -1; // held open so the master never sees a hang-up between the server's opens
    QSocketNotifier *m_notifier = nullptr;
    QString m_slavePath;
    QString m_linkPath;
    QString m_error;
    QByteArray m_input; // bytes from the server not yet taken as requests
    QList<QByteArray> m_requests;
    bool m_silent = false;
    int m_answerDelayMs = 0;
};
