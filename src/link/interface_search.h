#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class Presentation;
class SerialLink;
class SettingsStore;
class Transaction;
struct ServerState;

// Finds the serial port of the device and leaves it open.
//
// The port stored as "LCP" is tried first, then the port numbers to search
// (1..30, or only those the command line named) in turn, each announced on the
// status caption. A port counts only when the probe F2 02 03 F3 gets exactly
// 61 82 E3 back; a port that does not open costs no probe. Every port tried is
// closed again; the one found is reopened and stored as "LCP". Each step runs
// from the event loop (zero-delay single shots), so the server keeps serving
// while it searches; `done` is always called from the event loop, never from
// inside InitInterface.
class InterfaceSearch : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(int result)>;

    static constexpr int Found = 1;
    static constexpr int NotFound = 0;

    InterfaceSearch(ServerState &state, SerialLink &link, Transaction &transaction,
        const SettingsStore &settings, Presentation &presentation, QObject *parent = nullptr);

    // Searches and reports Found (the device's port is open) or NotFound (the
    // port is closed, "LCP" unchanged). The search takes the port over: a
    // transaction still open ends at once with TimeoutAnswer. A call while a
    // search runs is refused with NotFound; the running search goes on.
    void InitInterface(Done done);
    bool isSearching() const { return static_cast<bool>(m_done); } // ServerState::Link is Searching
    // Ends a running search at its next step with NotFound, showing nothing more
    // (the server was stopped meanwhile).
    void cancel();

private:
    void takeOverPort();
    void tryStoredPort();
    void announcePort(int index);
    void tryPort(int index);
    void probe(std::function<void(bool answered)> next);
    void reopenFound(int number);
    bool finishIfCancelled();
    void finish(int result);
    void reportOpenFailure(int number, const QString &error);
    template <typename Step> void schedule(Step step);

    ServerState &m_state;
    SerialLink &m_link;
    Transaction &m_transaction;
    const SettingsStore &m_settings;
    Presentation &m_presentation;
    QList<int> m_numbers; // the running search's port numbers, in order
    QHash<int, QString> m_openFailures; // last reported reason per existing port that did not open
    bool m_lastSearchFailed = false; // the previous search found nothing (logged once)
    bool m_cancelled = false; // the running search ends at its next step
    Done m_done; // the running search's caller; empty while no search runs
};
