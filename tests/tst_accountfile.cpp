// config.dat as bytes and values: what an account writes, what a file reads as, and what a device
// that fails part-way gives.
#include "core/text.h"
#include "settings/accountfile.h"
#include "support/faildevice.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QTest>

#if defined(Q_OS_WIN)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

// A one-byte code page that, like Windows-1252, has the Western European letters and nothing else:
// what it lacks is written as "?".
const CodePage kLatin1{[](const QString &text) { return text.toLatin1(); },
                       [](const QByteArray &bytes) { return QString::fromLatin1(bytes); }};

QString lostName(std::optional<AccountField> field)
{
    if (!field)
        return QStringLiteral("none");
    switch (*field) {
    case AccountField::Gateway:
        return QStringLiteral("gateway");
    case AccountField::Username:
        return QStringLiteral("username");
    case AccountField::Password:
        return QStringLiteral("password");
    }
    return QStringLiteral("?");
}

AccountReading read(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readAccount(buffer);
}

} // namespace

// How QCOMPARE shows the values it compares.
char *toString(const Account &a)
{
    const QString text = QStringLiteral("{\"%1\", \"%2\", \"%3\", %4}")
                             .arg(a.gateway, a.username, a.password, a.disabled ? "disabled" : "enabled");
    return qstrdup(text.toUtf8().constData());
}

char *toString(AccountReading::Failure failure)
{
    switch (failure) {
    case AccountReading::Failure::None:
        return qstrdup("None");
    case AccountReading::Failure::TooFewLines:
        return qstrdup("TooFewLines");
    case AccountReading::Failure::Unreadable:
        return qstrdup("Unreadable");
    case AccountReading::Failure::TooLong:
        return qstrdup("TooLong");
    }
    return qstrdup("?");
}

class TestAccountFile : public QObject
{
    Q_OBJECT
private slots:
    // Writing
    void writesFourLinesThatReadBack_data();
    void writesFourLinesThatReadBack();
    void writeThatFailsAnywhereIsReported();
    void extraLinesAreDroppedByTheNextWrite();
    void fieldTheCodePageCannotHold_data();
    void fieldTheCodePageCannotHold();

    // Reading
    void readsFourLines_data();
    void readsFourLines();
    void fewerThanFourLinesAreTooFew_data();
    void fewerThanFourLinesAreTooFew();
    void flagLine_data();
    void flagLine();
    void readErrorGivesNoAccount_data();
    void readErrorGivesNoAccount();
    void fieldLongerThanATextBoxIsRefused_data();
    void fieldLongerThanATextBoxIsRefused();
};

void TestAccountFile::writesFourLinesThatReadBack_data()
{
    QTest::addColumn<Account>("account");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Account>("loaded");

    QTest::newRow("everything empty") << Account{"", "", "", false} << QByteArray("\r\n\r\n\r\n0\r\n")
                                      << Account{"", "", "", false};
    QTest::newRow("outer spaces go, inner stay") << Account{"  gw.example  ", " jane doe ", "  s3cret pass  ", true}
                                                 << QByteArray("gw.example\r\njane doe\r\ns3cret pass\r\n1\r\n")
                                                 << Account{"gw.example", "jane doe", "s3cret pass", true};
    QTest::newRow("tabs are not spaces") << Account{"\tgw", "user\t", " \tpw\t ", false}
                                         << QByteArray("\tgw\r\nuser\t\r\n\tpw\t\r\n0\r\n")
                                         << Account{"\tgw", "user\t", "\tpw\t", false};
    // A pasted line break must not split a value and shift the fields after it.
    QTest::newRow("line breaks in a value")
        << Account{"g\nw", "us\r\ner ", "pw\n1", false} << QByteArray("gw\r\nuser\r\npw1\r\n0\r\n")
        << Account{"gw", "user", "pw1", false};
    const Account nonAscii{"gw", QStringLiteral("j\u00fcrgen"), QStringLiteral("p\u00e4ss \u20ac"), false};
    const Account marked{QStringLiteral("\ufeffgw"), QStringLiteral("user"), QStringLiteral("\ufeffpw"), false};
#if defined(Q_OS_WIN)
    // The 8-bit text in the file is the ANSI code page's. These bytes are Windows-1252's, the code
    // page of Western European and American Windows (and of Wine under a C or English locale).
    if (GetACP() != 1252)
        return;
    QTest::newRow("non-ASCII password") << nonAscii << QByteArray("gw\r\nj\xfcrgen\r\np\xe4ss \x80\r\n0\r\n")
                                        << nonAscii;
    // The code page has no byte-order mark: it is written as a question mark, as Windows writes
    // every character its code page lacks.
    QTest::newRow("byte-order mark starting a field")
        << marked << QByteArray("?gw\r\nuser\r\n?pw\r\n0\r\n") << Account{"?gw", "user", "?pw", false};
#else
    // The test runs under a UTF-8 locale, so the 8-bit text in the file is UTF-8.
    QTest::newRow("non-ASCII password") << nonAscii
                                        << QByteArray("gw\r\nj\xc3\xbcrgen\r\np\xc3\xa4ss \xe2\x82\xac\r\n0\r\n")
                                        << nonAscii;
    // A byte-order mark is a character like any other, also where a line begins.
    QTest::newRow("byte-order mark starting a field")
        << marked << QByteArray("\xef\xbb\xbfgw\r\nuser\r\n\xef\xbb\xbfpw\r\n0\r\n") << marked;
#endif
}

void TestAccountFile::writesFourLinesThatReadBack()
{
    QFETCH(Account, account);
    QFETCH(QByteArray, bytes);
    QFETCH(Account, loaded);

    QCOMPARE(accountFileBytes(account), bytes);
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    QVERIFY(writeAccount(file, account));
    QCOMPARE(file.data(), bytes);

    const AccountReading reading = read(bytes);
    QCOMPARE(reading.failure, AccountReading::Failure::None);
    QCOMPARE(reading.account, loaded);
    // What was loaded is saved as the same file again.
    QCOMPARE(accountFileBytes(loaded), bytes);
}

void TestAccountFile::writeThatFailsAnywhereIsReported()
{
    const Account account{"gw", "user", "pass", true};
    const QByteArray bytes = accountFileBytes(account);
    for (qint64 failAt = 0; failAt < bytes.size(); ++failAt) {
        FailDevice full(failAt);
        full.open(QIODevice::WriteOnly);
        QVERIFY2(!writeAccount(full, account), QByteArray::number(failAt));
    }
    FailDevice roomEnough(bytes.size());
    roomEnough.open(QIODevice::WriteOnly);
    QVERIFY(writeAccount(roomEnough, account));
    QCOMPARE(roomEnough.data(), bytes);
}

void TestAccountFile::extraLinesAreDroppedByTheNextWrite()
{
    const AccountReading reading = read("gw\r\nuser\r\npass\r\n0\r\nextra\r\nmore");
    QVERIFY(reading.ok());
    QCOMPARE(accountFileBytes(reading.account), QByteArray("gw\r\nuser\r\npass\r\n0\r\n"));
}

void TestAccountFile::fieldTheCodePageCannotHold_data()
{
    QTest::addColumn<Account>("account");
    QTest::addColumn<bool>("systemPage"); // else the one-byte stand-in
    QTest::addColumn<QString>("lost");

    const QString umlauts = QStringLiteral("j\u00fcrgen \u00e4\u00f6");
    const QString polish = QStringLiteral("\u0141\u00f3d\u017a");
    QTest::newRow("one-byte page: its own letters") << Account{"gw", umlauts, umlauts, true} << false << "none";
    QTest::newRow("one-byte page: password") << Account{"gw", "user", "pw" + polish, false} << false << "password";
    QTest::newRow("one-byte page: username") << Account{"gw", polish, "pw", false} << false << "username";
    QTest::newRow("one-byte page: gateway")
        << Account{QStringLiteral("\u5bc6.example"), "u", "p", false} << false << "gateway";
    QTest::newRow("one-byte page: the first in the file's order")
        << Account{"gw", polish, polish, false} << false << "username";
    // What the file drops anyway is no loss.
    QTest::newRow("one-byte page: outer spaces, line breaks")
        << Account{" gw\n", "  " + umlauts + " ", "p\r\nw  ", false} << false << "none";
#if defined(Q_OS_WIN)
    if (GetACP() != 1252)
        return;
    QTest::newRow("Windows-1252: its own letters and the euro")
        << Account{"gw", umlauts, QStringLiteral("\u20ac") + umlauts, false} << true << "none";
    // Written as the look-alike "L": the password would no longer log in after the next start.
    QTest::newRow("Windows-1252: a letter it lacks")
        << Account{"gw", "user", "pw" + polish, false} << true << "password";
    QTest::newRow("Windows-1252: a byte-order mark")
        << Account{QStringLiteral("\ufeffgw"), "user", "pw", false} << true << "gateway";
#else
    // UTF-8 holds any text that can be typed; only a lone half of a surrogate pair has no encoding.
    QTest::newRow("UTF-8: any letter") << Account{QStringLiteral("\u5bc6.example"), polish, polish + "\U0001F511",
                                                  false}
                                       << true << "none";
    QTest::newRow("UTF-8: a lone surrogate")
        << Account{"gw", "user", QStringLiteral("pw") + QChar(0xd800), false} << true << "password";
#endif
}

void TestAccountFile::fieldTheCodePageCannotHold()
{
    QFETCH(Account, account);
    QFETCH(bool, systemPage);
    QFETCH(QString, lost);
    const CodePage &page = systemPage ? systemCodePage() : kLatin1;
    QCOMPARE(lostName(fieldTheCodePageLoses(account, page)), lost);
    if (systemPage && lost == QLatin1String("none")) {
        // Then the file really gives the fields back.
        const AccountReading reading = read(accountFileBytes(account));
        QVERIFY(reading.ok());
        QCOMPARE(reading.account.username, trimSpaces(account.username));
        QCOMPARE(reading.account.password, trimSpaces(account.password));
    }
}

void TestAccountFile::readsFourLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Account>("loaded");

    const Account full{"gw", "user", "pass", true};
    QTest::newRow("CR LF") << QByteArray("gw\r\nuser\r\npass\r\n1\r\n") << full;
    QTest::newRow("last line without CR LF") << QByteArray("gw\r\nuser\r\npass\r\n1") << full;
    QTest::newRow("LF only") << QByteArray("gw\nuser\npass\n1\n") << full;
    QTest::newRow("CR only") << QByteArray("gw\ruser\rpass\r1") << full;
    QTest::newRow("mixed ends") << QByteArray("gw\r\nuser\npass\r1\r\n") << full;
    QTest::newRow("LF before CR is two ends")
        << QByteArray("gw\n\ruser\r\npass\r\n1\r\n") << Account{"gw", "", "user", false};
    QTest::newRow("empty lines") << QByteArray("\r\n\r\n\r\n\r\n") << Account{"", "", "", false};
    QTest::newRow("spaces trimmed, others kept")
        << QByteArray("  gw  \r\n\tuser \r\n  p a s s  \r\n") + QByteArray("  1  ")
        << Account{"gw", "\tuser", "p a s s", true};
    QTest::newRow("five lines") << QByteArray("gw\r\nuser\r\npass\r\n1\r\nextra\r\n") << full;
}

void TestAccountFile::readsFourLines()
{
    QFETCH(QByteArray, file);
    QFETCH(Account, loaded);
    const AccountReading reading = read(file);
    QCOMPARE(reading.failure, AccountReading::Failure::None);
    QCOMPARE(reading.account, loaded);
}

void TestAccountFile::fewerThanFourLinesAreTooFew_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one line") << QByteArray("gw\r\n");
    QTest::newRow("two lines") << QByteArray("gw\r\nuser\r\n");
    QTest::newRow("three lines, final CR LF") << QByteArray("gw\r\nuser\r\n1\r\n");
    QTest::newRow("three lines, no final end") << QByteArray("gw\r\nuser\r\n1");
    QTest::newRow("three LF lines") << QByteArray("gw\nuser\n1\n");
}

void TestAccountFile::fewerThanFourLinesAreTooFew()
{
    QFETCH(QByteArray, file);
    QCOMPARE(read(file).failure, AccountReading::Failure::TooFewLines);
}

void TestAccountFile::flagLine_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<bool>("disabled");

    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("1 between spaces") << QByteArray(" 1 ") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("01") << QByteArray("01") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("true") << QByteArray("true") << false;
    QTest::newRow("tab before 1") << QByteArray("\t1") << false;
}

void TestAccountFile::flagLine()
{
    QFETCH(QByteArray, flag);
    QFETCH(bool, disabled);
    const AccountReading reading = read("gw\r\nuser\r\npass\r\n" + flag + "\r\n");
    QVERIFY(reading.ok());
    QCOMPARE(reading.account.disabled, disabled);
}

void TestAccountFile::readErrorGivesNoAccount_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("needed"); // bytes read before the fourth line is known to be whole

    // The CR that ends the flag has to be read; whether an LF follows it does not matter.
    QTest::newRow("CR LF") << QByteArray("gw\r\nuser\r\npass\r\n1\r\nextra\r\n") << qint64(18);
    QTest::newRow("no final end") << QByteArray("gw\r\nuser\r\npass\r\n1") << qint64(17);
    QTest::newRow("three lines") << QByteArray("gw\r\nuser\r\npass\r\n") << qint64(16);
}

void TestAccountFile::readErrorGivesNoAccount()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, needed);
    for (qint64 failAt = 0; failAt < needed; ++failAt) {
        FailDevice broken(failAt, file);
        broken.open(QIODevice::ReadOnly);
        const AccountReading reading = readAccount(broken);
        QVERIFY2(reading.failure == AccountReading::Failure::Unreadable, QByteArray::number(failAt));
        QCOMPARE(reading.account, Account{});
    }
    // An error after the fourth line costs nothing.
    if (needed < file.size()) {
        FailDevice broken(needed, file);
        broken.open(QIODevice::ReadOnly);
        const AccountReading reading = readAccount(broken);
        QCOMPARE(reading.failure, AccountReading::Failure::None);
        QCOMPARE(reading.account, (Account{"gw", "user", "pass", true}));
    }
}

void TestAccountFile::fieldLongerThanATextBoxIsRefused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<AccountReading::Failure>("failure");

    const QByteArray most(kMaxAccountField, 'x');
    const QByteArray tooMany(kMaxAccountField + 1, 'x');
    using F = AccountReading::Failure;
    QTest::newRow("gateway") << tooMany + "\r\nuser\r\npass\r\n0\r\n" << F::TooLong;
    QTest::newRow("username") << "gw\r\n" + tooMany + "\r\npass\r\n0\r\n" << F::TooLong;
    QTest::newRow("password") << "gw\r\nuser\r\n" + tooMany + "\r\n0\r\n" << F::TooLong;
    QTest::newRow("as long as a box holds") << "gw\r\nuser\r\n" + most + "\r\n0\r\n" << F::None;
    // The limit counts characters of the trimmed value, not bytes of the line.
    QTest::newRow("outer spaces not counted") << "gw\r\nuser\r\n  " + most + "  \r\n0\r\n" << F::None;
    // Two bytes a character in UTF-8; one in Windows-1252, where the row shows nothing more.
    const QByteArray mostUmlauts = QString(kMaxAccountField, QChar(0xfc)).toLocal8Bit();
    QTest::newRow("two bytes a character") << "gw\r\nuser\r\n" + mostUmlauts + "\r\n0\r\n" << F::None;
}

void TestAccountFile::fieldLongerThanATextBoxIsRefused()
{
    QFETCH(QByteArray, file);
    QFETCH(AccountReading::Failure, failure);
    QCOMPARE(read(file).failure, failure);
}

int main(int argc, char *argv[])
{
    // The expected file bytes of non-ASCII text are UTF-8, whatever locale the test is run from.
    qputenv("LC_ALL", "C.UTF-8");
    QCoreApplication app(argc, argv);
    TestAccountFile tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_accountfile.moc"
