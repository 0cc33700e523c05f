#include "paced_line.h"

#include "sim/simulated_device.h"

#include <QTimer>

#include <algorithm>

namespace {

constexpr qint64 BitsPerByte = 10; // 8N1: start bit, 8 data bits, stop bit
constexpr qint64 MicrosecondsPerSecond = 1000 * 1000;
// The line wakes at least this often while bytes are due, so that a long write flows steadily
// rather than in one late burst.
constexpr qint64 StepUs = 10 * 1000;

} // namespace

PacedLine::PacedLine(SimulatedDevice &device, int baud, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_baud(baud)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PacedLine::release);
    m_clock.start();
    m_device.setOutputHook(
        [this](const QByteArray &bytes, qsizetype requestBytes) { send(bytes, requestBytes); });
}

qint64 PacedLine::lineTimeUs(qint64 bytes) const
{
    return (bytes * BitsPerByte * MicrosecondsPerSecond + m_baud - 1) / m_baud;
}

void PacedLine::send(const QByteArray &bytes, qsizetype requestBytes)
{
    // The pty hands the request over at once; on the line it would only now have arrived.
    const qint64 now = nowUs();
    const qint64 startUs = std::max(now + lineTimeUs(requestBytes), m_lineFreeUs);
    m_chunks.push_back({ bytes, startUs });
    m_lineFreeUs = startUs + lineTimeUs(bytes.size());
    release();
}

void PacedLine::release()
{
    if (!m_device.isPlugged()) {
        m_chunks.clear();
        m_lineFreeUs = 0;
        return;
    }
    const qint64 now = nowUs();
    while (!m_chunks.empty()) {
        Chunk &chunk = m_chunks.front();
        // A byte is due once its last bit has left the line.
        const qint64 due = std::clamp<qint64>(
            (now - chunk.startUs) * m_baud / (BitsPerByte * MicrosecondsPerSecond), 0,
            chunk.bytes.size());
        if (due > chunk.released) {
            m_device.writeLine(chunk.bytes.mid(chunk.released, due - chunk.released));
            chunk.released = due;
        }
        if (chunk.released < chunk.bytes.size())
            break;
        m_chunks.pop_front();
    }
    if (m_chunks.empty())
        return;
    const Chunk &next = m_chunks.front();
    const qint64 waitUs = std::min(next.startUs + lineTimeUs(next.bytes.size()) - now, StepUs);
    // Rounded up: a byte never reaches the reader before its time.
    m_timer->start(int(std::max<qint64>((waitUs + 999) / 1000, 1)));
}
