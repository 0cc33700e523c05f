// The German and English window texts and their lookup by base id + LangOffset.

#include "core/string_table.h"

#include <QtTest>

namespace {

struct Text
{
    int germanId;
    const char16_t *german;
    const char16_t *english;
};

// Quoted exactly, spaces before colons and exclamation marks included.
const Text Texts[] = {
    { 101, u"&Datei", u"&File" },
    { 102, u"&Ende", u"&End" },
    { 103, u"&Server", u"&Server" },
    { 104, u"Server &starten", u"&Start server" },
    { 105, u"Server &anhalten", u"S&top server" },
    { 106, u"Server a&utomatisch starten", u"Server &autostart" },
    { 107, u"&Eigene IP-Adresse anzeigen", u"Show own &IP-address" },
    { 108, u"S&prache", u"&Language" },
    { 109, u"&Deutsch", u"&German" },
    { 110, u"&Englisch", u"&English" },
    { 111, u"\u00DC&ber", u"&About" },
    { 120, u"Benutzte Befehls-Ports :", u"Command ports in use :" },
    { 121, u"Benutzte Broadcast-Ports :", u"Broadcast ports in use :" },
    { 122, u"Server starten", u"Start server" },
    { 123, u"Server stopp", u"Stop server" },
    { 130, u"Suche Interface", u"Searching interface" },
    { 131, u"Server l\u00E4uft", u"Server is running" },
    { 132, u"Kein Interface QX-USB gefunden !", u"No interface QX-USB found !" },
    { 133, u"Server gestoppt", u"Server is not running" },
    { 134, u"Schliessen", u"Close" },
    { 135, u"Eigene IP-Adresse", u"Own IP-Address" },
};

} // namespace

class TestStringTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void holdsEveryText_data();
    void holdsEveryText();
    void lacksOtherIds_data();
    void lacksOtherIds();
    void holdsNothingElse();
    void looksUpByLanguage_data();
    void looksUpByLanguage();
};

void TestStringTable::cleanup()
{
    Common::LangOffset = Common::German;
}

void TestStringTable::holdsEveryText_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");

    for (const Text &entry : Texts) {
        QTest::addRow("%d German", entry.germanId)
            << entry.germanId << QString::fromUtf16(entry.german);
        QTest::addRow("%d English", entry.germanId + 100)
            << entry.germanId + 100 << QString::fromUtf16(entry.english);
    }
}

void TestStringTable::holdsEveryText()
{
    QFETCH(int, id);
    QFETCH(QString, text);

    const std::optional<QString> found = LoadResString(id);
    QVERIFY(found.has_value());
    QCOMPARE(*found, text);
}

void TestStringTable::lacksOtherIds_data()
{
    QTest::addColumn<int>("id");

    for (int id : { 0, -1, 1, 99, 100, 112, 119, 124, 129, 136, 200, 212, 219, 224, 229, 236, 300,
             301, 332, 1132 })
        QTest::addRow("%d", id) << id;
}

void TestStringTable::lacksOtherIds()
{
    QFETCH(int, id);
    QVERIFY(!LoadResString(id).has_value());
}

void TestStringTable::holdsNothingElse()
{
    QList<int> expected;
    for (const Text &entry : Texts)
        expected << entry.germanId << entry.germanId + 100;
    std::sort(expected.begin(), expected.end());

    QList<int> present;
    for (int id = -1000; id <= 1000; ++id) {
        if (LoadResString(id))
            present << id;
    }
    QCOMPARE(present.size(), 42);
    QCOMPARE(present, expected);
}

void TestStringTable::looksUpByLanguage_data()
{
    QTest::addColumn<int>("langOffset");
    QTest::addColumn<int>("baseId");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("text");

    QTest::newRow("no interface, German")
        << Common::German << 132 << true << "Kein Interface QX-USB gefunden !";
    QTest::newRow("no interface, English")
        << Common::English << 132 << true << "No interface QX-USB found !";
    QTest::newRow("server menu, German") << Common::German << 103 << true << "&Server";
    QTest::newRow("server menu, English") << Common::English << 103 << true << "&Server";
    QTest::newRow("searching, English") << Common::English << 130 << true << "Searching interface";
    QTest::newRow("missing base, German") << Common::German << 136 << false << QString();
    QTest::newRow("missing base, English") << Common::English << 112 << false << QString();
    QTest::newRow("English id as base in English") << Common::English << 201 << false << QString();
}

void TestStringTable::looksUpByLanguage()
{
    QFETCH(int, langOffset);
    QFETCH(int, baseId);
    QFETCH(bool, found);
    QFETCH(QString, text);

    Common::LangOffset = langOffset;
    const std::optional<QString> local = LocalText(baseId);
    QCOMPARE(local.has_value(), found);
    if (found)
        QCOMPARE(*local, text);
}

QTEST_GUILESS_MAIN(TestStringTable)
#include "test_string_table.moc"
