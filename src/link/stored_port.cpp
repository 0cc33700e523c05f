#include "stored_port.h"

#include "core/leading_number.h"

int ParseStoredPort(const QString &text)
{
    const qint64 port = RoundHalfEven(LeadingNumber(text));
    return port >= FirstPortNumber && port <= LastPortNumber ? static_cast<int>(port) : 0;
}
