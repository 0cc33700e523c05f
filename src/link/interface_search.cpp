#include "interface_search.h"

#include "core/logging.h"
#include "core/presentation.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "core/status_looks.h"
#include "core/stored_settings.h"
#include "link/serial_link.h"
#include "link/transaction.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <utility>

namespace {

// "ports 1 to 30", or the ports a pinned search tries: "port 1", "ports 1, 2".
QString PortsText(const QList<int> &numbers)
{
    const bool contiguous
        = numbers.size() > 2 && numbers.last() - numbers.first() == numbers.size() - 1;
    if (contiguous)
        return QStringLiteral("ports %1 to %2").arg(numbers.first()).arg(numbers.last());
    QStringList texts;
    for (int number : numbers)
        texts << QString::number(number);
    return (numbers.size() == 1 ? QStringLiteral("port ") : QStringLiteral("ports "))
        + texts.join(QStringLiteral(", "));
}

} // namespace

InterfaceSearch::InterfaceSearch(ServerState &state, SerialLink &link, Transaction &transaction,
    const SettingsStore &settings, Presentation &presentation, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_link(link)
    , m_transaction(transaction)
    , m_settings(settings)
    , m_presentation(presentation)
{ }

void InterfaceSearch::InitInterface(Done done)
{
    if (isSearching()) {
        qCWarning(lcLink) << "device search requested while one runs: refused";
        schedule([done = std::move(done)] {
            if (done)
                done(NotFound);
        });
        return;
    }
    m_done = done ? std::move(done) : [](int) {};
    m_cancelled = false;
    m_numbers = m_link.searchNumbers();
    if (m_state.ProgMode)
        qCInfo(lcLink) << "searching the device (programming mode: a silent port costs up to"
                       << Protocol::ProgModeAnswerLimit.count() / 1000 << "s)";
    takeOverPort();
    m_state.Link = LinkState::Searching;
    schedule([this] { tryStoredPort(); });
}

void InterfaceSearch::cancel()
{
    if (!isSearching())
        return;
    m_cancelled = true;
    // A probe waiting for its answer ends now; its step then finishes the search.
    takeOverPort();
}

void InterfaceSearch::takeOverPort()
{
    if (!m_transaction.isOpen())
        return;
    qCInfo(lcLink) << "the device search takes the port over from an open transaction";
    m_transaction.abort();
}

void InterfaceSearch::tryStoredPort()
{
    if (finishIfCancelled())
        return;
    const int stored = StoredPort(m_settings);
    if (!m_numbers.contains(stored) || !m_link.open(stored)) {
        announcePort(0);
        return;
    }
    // A failed probe leaves the port open: the next open closes it.
    probe([this, stored](bool answered) {
        if (answered)
            reopenFound(stored);
        else
            announcePort(0);
    });
}

void InterfaceSearch::announcePort(int index)
{
    if (finishIfCancelled())
        return;
    if (index >= m_numbers.size()) {
        m_link.close();
        // A server that keeps searching says so once, not after every search.
        if (!m_lastSearchFailed)
            qCInfo(lcLink).noquote() << "device not found on" << PortsText(m_numbers);
        m_lastSearchFailed = true;
        finish(NotFound);
        return;
    }
    m_presentation.showStatusCaption(SearchingPortCaption(m_numbers.at(index)));
    schedule([this, index] { tryPort(index); });
}

void InterfaceSearch::tryPort(int index)
{
    if (finishIfCancelled())
        return;
    const int number = m_numbers.at(index);
    QString error;
    if (!m_link.open(number, &error)) {
        reportOpenFailure(number, error);
        announcePort(index + 1);
        return;
    }
    probe([this, index](bool answered) {
        m_link.close();
        if (answered)
            reopenFound(m_numbers.at(index));
        else
            announcePort(index + 1);
    });
}

void InterfaceSearch::probe(std::function<void(bool answered)> next)
{
    takeOverPort();
    QPointer<InterfaceSearch> self(this);
    m_transaction.SendData(
        Protocol::ProbeRequest(), [self, next = std::move(next)](const QByteArray &answer) {
            if (self)
                next(answer == Protocol::ProbeAnswer());
        });
}

void InterfaceSearch::reopenFound(int number)
{
    if (finishIfCancelled())
        return;
    m_link.close();
    QString error;
    if (!m_link.open(number, &error)) {
        qCWarning(lcLink).noquote()
            << "device found on port" << number << "but the port does not open again:" << error;
        finish(NotFound);
        return;
    }
    StorePort(m_settings, number);
    m_lastSearchFailed = false;
    m_openFailures.clear();
    qCInfo(lcLink).noquote() << "device found on port" << number << "(" + m_link.portPath() + ")";
    finish(Found);
}

bool InterfaceSearch::finishIfCancelled()
{
    if (!m_cancelled)
        return false;
    m_link.close();
    finish(NotFound);
    return true;
}

void InterfaceSearch::finish(int result)
{
    m_state.Link = m_transaction.state();
    const Done done = std::exchange(m_done, nullptr);
    done(result);
}

template <typename Step> void InterfaceSearch::schedule(Step step)
{
    // Every pending event runs before the next step: the server keeps serving
    // while it searches.
    QTimer::singleShot(0, this, std::move(step));
}

void InterfaceSearch::reportOpenFailure(int number, const QString &error)
{
    // Most numbers name no device at all: those stay quiet. A port that exists
    // but does not open (no permission, in use) is what a user needs to see,
    // once for each new reason rather than on every search.
    if (!QFileInfo::exists(m_link.pathOf(number)))
        return;
    QString &reported = m_openFailures[number];
    if (reported == error)
        return;
    reported = error;
    qCWarning(lcLink).noquote() << QStringLiteral("port %1 (%2) does not open: %3")
                                       .arg(number)
                                       .arg(m_link.pathOf(number), error);
}
