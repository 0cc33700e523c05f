#include "interface_search.h"

#include "core/logging.h"
#include "core/presentation.h"
#include "core/server_state.h"
#include "core/settings_store.h"
#include "core/string_table.h"
#include "link/serial_link.h"
#include "link/stored_port.h"
#include "link/transaction.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <utility>

namespace {

const QString StoredPortValue = QStringLiteral("LCP");

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

QByteArray InterfaceSearch::probeRequest()
{
    return QByteArray("\xF2\x02\x03\xF3", 4);
}

QByteArray InterfaceSearch::probeAnswer()
{
    return QByteArray("\x61\x82\xE3", 3);
}

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
    if (m_state.ProgMode)
        qCInfo(lcLink) << "searching the device (programming mode: a silent port costs up to"
                       << Transaction::ProgModeAnswerLimit.count() / 1000 << "s)";
    else
        qCDebug(lcLink) << "searching the device";
    takeOverPort();
    schedule([this] { tryStoredPort(); });
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
    const int stored = ParseStoredPort(
        m_settings.ReadKeyValue(SettingsKey, StoredPortValue, QStringLiteral("0")).toText());
    if (stored < 1 || !m_link.open(stored)) {
        announcePort(1);
        return;
    }
    // A failed probe leaves the port open: the next open closes it.
    probe([this, stored](bool answered) {
        if (answered)
            reopenFound(stored);
        else
            announcePort(1);
    });
}

void InterfaceSearch::announcePort(int number)
{
    if (number > LastPortNumber) {
        m_link.close();
        // A server that keeps searching says so once, not after every search.
        if (!m_lastSearchFailed)
            qCInfo(lcLink) << "device not found on ports" << FirstPortNumber << "to"
                           << LastPortNumber;
        m_lastSearchFailed = true;
        finish(NotFound);
        return;
    }
    m_presentation.showStatusCaption(LocalText(TextId::SearchingInterface).value_or(QString())
        + QStringLiteral(" ... ") + QString::number(number));
    schedule([this, number] { tryPort(number); });
}

void InterfaceSearch::tryPort(int number)
{
    QString error;
    if (!m_link.open(number, &error)) {
        reportOpenFailure(number, error);
        announcePort(number + 1);
        return;
    }
    probe([this, number](bool answered) {
        m_link.close();
        if (answered)
            reopenFound(number);
        else
            announcePort(number + 1);
    });
}

void InterfaceSearch::probe(std::function<void(bool answered)> next)
{
    takeOverPort();
    QPointer<InterfaceSearch> self(this);
    m_transaction.SendData(
        probeRequest(), [self, next = std::move(next)](const QByteArray &answer) {
            if (self)
                next(answer == probeAnswer());
        });
}

void InterfaceSearch::reopenFound(int number)
{
    m_link.close();
    QString error;
    if (!m_link.open(number, &error)) {
        qCWarning(lcLink).noquote()
            << "device found on port" << number << "but the port does not open again:" << error;
        finish(NotFound);
        return;
    }
    m_settings.WriteKeyValue(SettingsKey, StoredPortValue,
        SettingValue::fromText(QString::number(number)), ValueTypeString);
    m_lastSearchFailed = false;
    m_openFailures.clear();
    qCInfo(lcLink).noquote() << "device found on port" << number << "(" + m_link.portPath() + ")";
    finish(Found);
}

void InterfaceSearch::finish(int result)
{
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
    if (!QFileInfo::exists(m_link.pathOf(number))) {
        qCDebug(lcLink).noquote() << "port" << number << "does not open:" << error;
        return;
    }
    QString &reported = m_openFailures[number];
    if (reported == error)
        return;
    reported = error;
    qCWarning(lcLink).noquote() << QStringLiteral("port %1 (%2) does not open: %3")
                                       .arg(number)
                                       .arg(m_link.pathOf(number), error);
}
