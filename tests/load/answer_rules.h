#pragma once

#include <QByteArray>
#include <QList>

// How the answer line a well-behaved command client receives is judged. The device echoes
// every tagged command, so the answer must be that client's own command; the only other answer
// it may get is 010100 (no answer from the device) while the device was unplugged.
namespace AnswerRules {

enum class Verdict
{
    Own, // the echo of the command sent
    NoAnswer, // 010100: allowed only within a fault window, judged once the windows are known
    Wrong, // anything else: another client's answer, an error, garbage
};

// A time span in milliseconds of the run during which the device was away: from the unplug
// until the first echo after it was plugged in again.
struct Window
{
    qint64 startMs = 0;
    qint64 endMs = 0;
};

// A command that got 010100.
struct NoAnswerEvent
{
    qint64 sentMs = 0;
    qint64 receivedMs = 0;
};

Verdict Judge(const QByteArray &line, const QByteArray &expectedLine);

// 010100 is sound for a command that was still open when the device went away (answered after
// the unplug) and was sent before the device was found again.
bool WithinWindow(const NoAnswerEvent &event, const QList<Window> &windows);

} // namespace AnswerRules
