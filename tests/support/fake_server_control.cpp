#include "fake_server_control.h"

#include "core/status_looks.h"
#include "core/string_table.h"

FakeServerControl::FakeServerControl(Presentation &presentation)
    : m_presentation(presentation)
{ }

void FakeServerControl::MSStartServer_Click(std::function<void()> done)
{
    calls << QStringLiteral("start");
    m_presentation.showStatus(SearchingLook());
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
        m_presentation.showStatus(RunningLook());
        m_presentation.showButtons(false, true);
        running = true;
        done();
        return;
    }
    m_presentation.showMessage(QString::fromLatin1(MessageTitle),
        LocalText(TextId::NoInterface).value_or(QString()), [this, done = std::move(done)] {
            m_presentation.showStatus(StoppedLook());
            m_presentation.showButtons(true, false);
            done();
        });
}

void FakeServerControl::MSStopServer_Click()
{
    calls << QStringLiteral("stop");
    m_presentation.showStatus(StoppedLook());
    m_presentation.showButtons(true, false);
    running = false;
}
