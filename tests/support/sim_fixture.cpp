#include "sim_fixture.h"

#include "core/protocol.h"

SimFixture::SimFixture(int number)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return;
    }
    for (int k = Protocol::FirstPortNumber; k <= Protocol::LastPortNumber; ++k)
        detach(k);
    m_device.setLinkPath(linkPath());
    if (!m_device.plug()) {
        m_error = m_device.errorString();
        return;
    }
    if (number != 0)
        attach(number);
    m_ready = true;
}

void SimFixture::attach(int number)
{
    m_ports.setPath(number, linkPath());
}

void SimFixture::detach(int number)
{
    m_ports.setPath(number, filePath(QStringLiteral("missing-%1").arg(number)));
}

QString SimFixture::linkPath() const
{
    return filePath(QStringLiteral("device"));
}

QString SimFixture::filePath(const QString &name) const
{
    return m_dir.filePath(name);
}
