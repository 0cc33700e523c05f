#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>

class QSocketNotifier;
class QTimer;

// A simulated QX-USB device on a pseudo-terminal. The server opens the pty's
// slave side like a real serial port; the device answers the probe F2 02 03 F3
// with 61 82 E3 and every other request by echoing the request's message in an
// answer frame (FF FE + message). It can send broadcast frames and raw bytes, go
// silent, be unplugged (the pty goes away, which the server sees as a hang-up)
// and plugged in again (a new pty; the link path, when set, follows it).
//
// The device holds its own descriptor of the slave for as long as it is
// plugged: the master then never sees a hang-up while the server closes and
// reopens the port, and the line stays in raw mode between the server's opens.
// Nothing blocks: reads and writes wait on socket notifiers, delays on timers.
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
    int answerDelay() const { return m_answerDelayMs; }
    // Paces every write as a real 8N1 line of `baud` would deliver it (10 bits
    // a byte), and lets each answer wait first for its request's own time on
    // the line. 0, the default, writes everything at once.
    void setLineRate(int baud);
    int lineRate() const { return m_lineRate; }

    // Creates a new pty (and points the link at it); false with errorString()
    // on failure. Plugging a plugged device does nothing and returns true.
    bool plug();
    // Closes the pty (the server's port sees a hang-up) and removes the link.
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
    // Bytes handed to the device but not yet taken by the pty (waiting for
    // their time on a paced line, or for a reader of the slave).
    qint64 pendingBytes() const;

    // Every request message received so far (without FF FE), oldest first.
    const QList<QByteArray> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Bytes read from the server so far, garbage included.
    qint64 bytesReceived() const { return m_bytesReceived; }

    // The probe and its answer.
    static QByteArray probeRequest();
    static QByteArray probeAnswer();

    // Output the device keeps for a slave nobody reads; more is dropped, as a
    // real line drops what no one listens to.
    static constexpr qint64 MaxPendingBytes = 1024 * 1024;

Q_SIGNALS:
    // A complete request frame arrived (its message, without FF FE).
    void requestReceived(const QByteArray &message);
    // An answer was written (its message, without FF FE).
    void answerSent(const QByteArray &message);

private:
    // Bytes on a paced line: the first of them starts on the line at startUs.
    struct PacedChunk
    {
        QByteArray bytes;
        qint64 startUs = 0;
        int released = 0; // bytes already handed to the pty
    };

    bool fail(const QString &what);
    void readMaster();
    void handleRequest(const QByteArray &message, qint64 arrivedUs);
    void sendAnswer(const QByteArray &message, qint64 notBeforeUs);
    void writeAll(const QByteArray &bytes, qint64 notBeforeUs = 0);
    void releasePaced();
    void flushOutput();
    bool updateLink();
    void removeLink();
    qint64 nowUs() const { return m_lineClock.nsecsElapsed() / 1000; }
    qint64 lineTimeUs(qint64 bytes) const;

    int m_masterFd = -1;
    int m_slaveFd = -1; // held open so the master never sees a hang-up between the server's opens
    QSocketNotifier *m_notifier = nullptr; // the master has bytes from the server
    QSocketNotifier *m_writeNotifier = nullptr; // the master takes bytes again after EAGAIN
    QTimer *m_paceTimer = nullptr; // releases paced bytes when they are due
    QString m_slavePath;
    QString m_linkPath;
    QString m_error;
    QByteArray m_input; // bytes from the server not yet taken as requests
    QList<QByteArray> m_requests;
    qint64 m_bytesReceived = 0;
    bool m_silent = false;
    bool m_linkMade = false; // the link at m_linkPath is ours to remove
    int m_answerDelayMs = 0;
    int m_lineRate = 0; // baud; 0: no pacing
    quint64 m_plugs = 0; // counts plug(); a delayed answer from an earlier plug is dropped
    QByteArray m_output; // bytes due on the line that the pty has not taken yet
    std::deque<PacedChunk> m_paced; // bytes waiting for their time on the line
    QElapsedTimer m_lineClock; // time base of the paced line
    qint64 m_lineFreeUs = 0; // when the output line finishes its last queued byte
    qint64 m_inputFreeUs = 0; // when the last request finished arriving
};
