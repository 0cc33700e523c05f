#pragma once

#include "answer_rules.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>

// What the clients of one load run saw, added up for the verdict.
struct LoadTally
{
    static constexpr int MaxSamples = 12;

    const QElapsedTimer *clock = nullptr; // the run's time base, in milliseconds

    qint64 ownAnswers = 0; // echoes of the client's own command
    qint64 wrongAnswers = 0; // anything else but 010100
    QList<AnswerRules::NoAnswerEvent> noAnswers; // 010100, judged against the fault windows
    qint64 refused = 0; // connections refused (all slots in use)
    qint64 unexpectedCloses = 0; // a well-behaved client's connection ended by the server
    qint64 junkLines = 0;
    qint64 junkWrong = 0; // a junk line answered otherwise than with 6180E1
    qint64 overlongLines = 0;
    qint64 overlongWrong = 0;
    qint64 vanished = 0; // connections that went away on purpose
    QStringList problems; // the first few, for the report

    qint64 nowMs() const { return clock->elapsed(); }
    void note(const QString &problem)
    {
        if (problems.size() < MaxSamples)
            problems.append(QStringLiteral("%1 ms: %2").arg(nowMs()).arg(problem));
    }
};

// The text a refused client gets, without a line end.
inline QByteArray RefusalText()
{
    return QByteArrayLiteral("Sorry, I could not accept your connection request");
}
