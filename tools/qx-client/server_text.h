#pragma once

#include <QByteArray>

#include <optional>

// What a qx-server service sends, cut into lines: every line ends in CR LF,
// except the refusal text, which comes alone, without a line end, right
// before the server closes the connection.
class ServerText
{
public:
    // Longer than any line of either service by far; more text without a
    // line end (a line of its own, or the start of one) means the peer is no
    // qx-server.
    static constexpr qsizetype MaxPendingBytes = 4096;

    void append(const QByteArray &bytes) { m_pending += bytes; }
    // The next complete line without its CR LF, or nothing while it is incomplete.
    std::optional<QByteArray> takeLine();
    // The text after the last complete line is the refusal text, or, once the
    // server has closed the connection, the start of it.
    bool holdsRefusal(bool connectionClosed) const;
    // The next line, complete or not, is longer than MaxPendingBytes.
    bool isOverlong() const;

private:
    QByteArray m_pending; // received text after the last complete line
};
