#include "answer_rules.h"

#include <algorithm>

namespace AnswerRules {

Verdict Judge(const QByteArray &line, const QByteArray &expectedLine)
{
    if (line == expectedLine)
        return Verdict::Own;
    if (line == "010100")
        return Verdict::NoAnswer;
    return Verdict::Wrong;
}

bool WithinWindow(const NoAnswerEvent &event, const QList<Window> &windows)
{
    return std::any_of(windows.cbegin(), windows.cend(), [&event](const Window &window) {
        return event.receivedMs >= window.startMs && event.sentMs <= window.endMs;
    });
}

} // namespace AnswerRules
