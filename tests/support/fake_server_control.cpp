#include "fake_server_control.h"

#include "core/string_table.h"

FakeServerControl::FakeServerControl(Presentation &presentation)
    : m_presentation(presentation)
{ }

StatusLook FakeServerControl::searchingLook()
{
    return { LocalText(TextId::SearchingInterface).value_or(QString()) + QStringLiteral(" ..."),
        ColorYellow, ColorBlack };
}

StatusLook FakeServerControl::runningLook()
{
    return { LocalText(TextId::ServerRunning).value_or(QString()) + QStringLiteral(" ...."),
        ColorGreen, ColorButtonHighlight };
}

StatusLook FakeServerControl::stoppedLook()
{
    return { LocalText(TextId::ServerStopped).value_or(QString()), ColorRed, ColorButtonHighlight };
}

void FakeServerControl::MSStartServer_Click(std::function<void()> done)
{
    calls << QStringLiteral("start");
    m_presentation.showStatus(searchingLook());
    m_pendingDone = done ? std::move(done) : [] {};
    if (!holdSearch)
        finishSearch();
}

void FakeServerControl::finishSearch()
{
    if (!m_pendingDone)
        return;
    auto done = std::move(m_pendingDone);
    m_pendingDone = nullptr;
    if (deviceAttached) {
        m_presentation.showStatus(runningLook());
        m_presentation.showButtons(false, true);
        running = true;
        done();
        return;
    }
    m_presentation.showMessage(QStringLiteral("QX-Server"),
        LocalText(TextId::NoInterface).value_or(QString()), [this, done = std::move(done)] {
            m_presentation.showStatus(stoppedLook());
            m_presentation.showButtons(true, false);
            done();
        });
}

void FakeServerControl::MSStopServer_Click()
{
    calls << QStringLiteral("stop");
    m_presentation.showStatus(stoppedLook());
    m_presentation.showButtons(true, false);
    running = false;
}
