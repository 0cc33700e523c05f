#pragma once

#include "frame_reader.h"

#include <QObject>

class QTcpSocket;

// A client connection to one service of the server on 127.0.0.1: cuts what the server sends
// into CR LF lines, and says when the connection has ended and what text (a refusal has no
// line end) was left after the last line.
class LineConnection : public QObject
{
    Q_OBJECT

public:
    explicit LineConnection(QObject *parent = nullptr);

    void open(quint16 port);
    void send(const QByteArray &bytes);
    // Ends the connection now (a reset when `reset`); closed() does not follow.
    void close(bool reset = false);
    // Sends nothing more and lets the server end the connection: closed() follows once the
    // server has seen the end and closed its side too (and so has freed the slot).
    void shutdownSending();
    bool isConnected() const { return m_connected; }

Q_SIGNALS:
    void connected();
    void lineReceived(const QByteArray &line);
    // The server ended the connection, or it broke, or it could not be made.
    void closed(const QByteArray &rest);

private:
    void readLines();
    void end();

    QTcpSocket *m_socket = nullptr;
    LineReader m_lines;
    bool m_connected = false;
    bool m_ended = false;
};
