#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

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
    // Where the device's outgoing bytes go: by default straight onto the pty.
    // A program may put a line of its own in between (qx-sim paces the bytes
    // at a baud rate) and hand them on with writeLine() when they are due.
    // `requestBytes` is the size of the request frame that an answer answers
    // (0 for broadcasts and raw bytes): on a real line the answer cannot start
    // before that request has arrived.
    using OutputHook = std::function<void(const QByteArray &bytes, qsizetype requestBytes)>;
    void setOutputHook(OutputHook hook) { m_outputHook = std::move(hook); }
    // Writes onto the pty now; nothing while unplugged.
    void writeLine(const QByteArray &bytes);

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
    // Bytes written but not yet taken by the pty (waiting for a reader of the
    // slave).
    qint64 pendingBytes() const { return m_output.size(); }

    // The last RequestsKept request messages received (without FF FE), oldest
    // first: a device that runs for long must not keep every one.
    const QList<QByteArray> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Bytes read from the server so far, garbage included.
    qint64 bytesReceived() const { return m_bytesReceived; }

    // Output the device keeps for a slave nobody reads; more is dropped, as a
    // real line drops what no one listens to.
    static constexpr qint64 MaxPendingBytes = 1024 * 1024;
    static constexpr qsizetype RequestsKept = 1000;

Q_SIGNALS:
    // A complete request frame arrived (its message, without FF FE).
    void requestReceived(const QByteArray &message);
    // An answer was written (its message, without FF FE).
    void answerSent(const QByteArray &message);

private:
    bool fail(const QString &what);
    void readMaster();
    void handleRequest(const QByteArray &message);
    void sendAnswer(const QByteArray &message, qsizetype requestBytes);
    void writeAll(const QByteArray &bytes, qsizetype requestBytes = 0);
    void flushOutput();
    bool updateLink();
    void removeLink();

    int m_masterFd = -1;
    int m_slaveFd = -1; // held open so the master never sees a hang-up between the server's opens
    QSocketNotifier *m_notifier = nullptr; // the master has bytes from the server
    QSocketNotifier *m_writeNotifier = nullptr; // the master takes bytes again after EAGAIN
    QString m_slavePath;
    QString m_linkPath;
    QString m_error;
    QByteArray m_input; // bytes from the server not yet taken as requests
    QList<QByteArray> m_requests;
    qint64 m_bytesReceived = 0;
    bool m_silent = false;
    bool m_linkMade = false; // the link at m_linkPath is ours to remove
    int m_answerDelayMs = 0;
    quint64 m_plugs = 0; // counts plug(); a delayed answer from an earlier plug is dropped
    QByteArray m_output; // bytes due on the line that the pty has not taken yet
    OutputHook m_outputHook; // empty: bytes go onto the pty at once
};
