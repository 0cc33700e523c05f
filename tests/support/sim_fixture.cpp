#include "sim_fixture.h"

#include "core/protocol.h"

SimFixture::SimFixture(int number)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return;
    }
    for (int k = Protocol::FirstPortNumber; k <= Protocol::LastPortNumber; ++k)
        m_ports.setPath(k, filePath(QStringLiteral("missing-%1").arg(k)));
    m_device.setLinkPath(linkPath());
    if (!m_device.plug()) {
        m_error = m_device.errorString();
        return;
    }
    if (number != 0)
        m_ports.setPath(number, linkPath());
    m_ready = true;
}

QString SimFixture::linkPath() const
{
    return filePath(QStringLiteral("device"));
}

QString SimFixture::filePath(const QString &name) const
{
    return m_dir.filePath(name);
}
