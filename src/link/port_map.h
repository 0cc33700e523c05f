#pragma once

#include <QList>
#include <QMap>
#include <QString>

// Serial port numbers 1..30 and the device paths they name: 1-10 are
// /dev/ttyUSB0-9, 11-20 /dev/ttyACM0-9, 21-30 /dev/ttyS0-9 (COM1..COM30 on
// Windows). A path set with --port K=PATH replaces the default of K and pins
// the search: once any path is set, only the numbers set name a device and are
// searched, so no other serial device on the machine is probed.
class PortMap
{
public:
    QString path(int number) const;
    void setPath(int number, const QString &path) { m_overrides.insert(number, path); }
    bool isPathSet(int number) const { return m_overrides.contains(number); }
    // The numbers a search tries, ascending: the ones set, or all of 1..30.
    QList<int> searchNumbers() const;

    // Parses "K=PATH"; false with an error text when it is not of that form, K
    // lies outside 1..30, or K has a path already.
    bool addOverride(const QString &assignment, QString *error);

private:
    QMap<int, QString> m_overrides;
};
