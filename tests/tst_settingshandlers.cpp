// config.dat from the window: what Save and a load tell the user, the controls they read and fill,
// and the file system around the file. What the file's bytes mean is tst_accountfile's.
#include "settings/accountfile.h"
#include "support/testwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif
#ifdef Q_OS_WIN
#include "support/wine.h"
#include "support/winfiles.h"
#endif

namespace {

const QString kEnterAccount = QStringLiteral("Enter your username and password. Then click \"Save\"");

QString accessFailed(const QString &path)
{
    // The path as the system writes it: with backslashes on Windows.
    return QStringLiteral("Failed to access file \"") + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

void fillAccount(TestWindow &t, const QString &gateway, const QString &user, const QString &password, bool ticked)
{
    t->txtGatewayIP->setText(gateway);
    t->txtUsername->setText(user);
    t->txtPassword->setText(password);
    t->chkDisableService->setChecked(ticked);
}

QStringList account(TestWindow &t)
{
    return {t->txtGatewayIP->text(), t->txtUsername->text(), t->txtPassword->text(),
            t->chkDisableService->isChecked() ? QStringLiteral("ticked") : QStringLiteral("clear")};
}

#ifdef Q_OS_UNIX
// While alive, no file of this process can grow beyond `bytes`: writes past it fail as they would
// on a full disk. Nothing else may write to a file meanwhile, test output included.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};
#endif

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    // Saving
    void saveWritesFourLinesAndLoadsThemBack_data();
    void saveWritesFourLinesAndLoadsThemBack();
    void defaultGatewayIsWhatTheNextSaveStores();
    void saveWhereTheFileCannotBeCreated_data();
    void saveWhereTheFileCannotBeCreated();
    void failedWriteKeepsThePreviousFile();
    void savedFileIsPrivate_data();
    void savedFileIsPrivate();
    void saveRefusesTextTheCodePageCannotHold_data();
    void saveRefusesTextTheCodePageCannotHold();
    void pathWithSpacesAndNonAsciiLetters();

    // Loading
    void loadAppliesFourLines_data();
    void loadAppliesFourLines();
    void loadThatFailsAppliesNothing_data();
    void loadThatFailsAppliesNothing();
    void loadWithoutAReadableFile_data();
    void loadWithoutAReadableFile();
    void flagLineSetsTheBoxOnlyWhenItChanges_data();
    void flagLineSetsTheBoxOnlyWhenItChanges();

    // Loading into the service switch (needs the connection supervisor)
    void loadedFlagRunsTheServiceSwitch_data();
    void loadedFlagRunsTheServiceSwitch();
    void startUpWithTheServiceDisabled();
};

void TestSettings::saveWritesFourLinesAndLoadsThemBack_data()
{
    QTest::addColumn<QStringList>("typed"); // gateway, username, password
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("loaded");

    QTest::newRow("ticked") << QStringList{"  gw.example  ", " jane doe ", "  s3cret pass  "} << true
                            << QByteArray("gw.example\r\njane doe\r\ns3cret pass\r\n1\r\n")
                            << QStringList{"gw.example", "jane doe", "s3cret pass", "ticked"};
    QTest::newRow("clear, empty fields") << QStringList{"", "", ""} << false << QByteArray("\r\n\r\n\r\n0\r\n")
                                         << QStringList{"", "", "", "clear"};
}

void TestSettings::saveWritesFourLinesAndLoadsThemBack()
{
    QFETCH(QStringList, typed);
    QFETCH(bool, ticked);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, loaded);

    TestWindow t;
    // Longer than any row's: the save replaces the file whole, its extra lines included.
    t.dir.writeConfig("old.gateway\r\nold user\r\nold pass\r\n1\r\nextra\r\n");
    fillAccount(t, typed[0], typed[1], typed[2], ticked);
    t->lblMessage->setText(QStringLiteral("an earlier hint"));
    t->cmdSave_Click();

    QCOMPARE(t.dir.readConfig(), bytes);
    QCOMPARE(t.services.boxes.size(), 1);
    QCOMPARE(t.services.boxes[0].text, QStringLiteral("Save Successfully"));
    QCOMPARE(t.services.boxes[0].icon, DesktopServices::Icon::None);
    QVERIFY(t->lblMessage->text().isEmpty());
    // The box and the fields are untouched by the save itself.
    QCOMPARE(t->chkDisableService->isChecked(), ticked);
    QCOMPARE(t->txtGatewayIP->text(), typed[0]);

    fillAccount(t, QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"), false);
    t->LoadSettings();
    QCOMPARE(account(t), loaded);
}

void TestSettings::defaultGatewayIsWhatTheNextSaveStores()
{
    TestWindow t;
    t->strServerHost = QStringLiteral("ddns.test.invalid");
    fillAccount(t, QStringLiteral("my.gateway"), QStringLiteral("u"), QStringLiteral("p"), false);
    t->cmdDefault_Click();
    QCOMPARE(account(t), (QStringList{"ddns.test.invalid", "u", "p", "clear"}));
    QVERIFY(t.dir.readConfig().isEmpty());
    t->cmdSave_Click();
    QCOMPARE(t.dir.readConfig(), QByteArray("ddns.test.invalid\r\nu\r\np\r\n0\r\n"));
}

void TestSettings::saveWhereTheFileCannotBeCreated_data()
{
    QTest::addColumn<QString>("appDir"); // relative to the test's directory
    QTest::newRow("directory missing") << QStringLiteral("no/such/dir");
    QTest::newRow("path under a regular file") << QStringLiteral("plain.txt");
    QTest::newRow("config.dat is a directory") << QString();
}

void TestSettings::saveWhereTheFileCannotBeCreated()
{
    QFETCH(QString, appDir);
    TestWindow t;
    {
        QFile plain(t.dir.filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(t.dir.path()).mkdir(QStringLiteral("config.dat")));
    if (!appDir.isEmpty())
        t.services.setAppPath(t.dir.filePath(appDir));
    fillAccount(t, QStringLiteral("gw"), QStringLiteral("u"), QStringLiteral("p"), false);
    t->lblMessage->setText(QStringLiteral("an earlier hint"));

    t->cmdSave_Click();

    QCOMPARE(t.services.boxes.size(), 1);
    QCOMPARE(t.services.boxes[0].text, accessFailed(t->configPath()));
    QCOMPARE(t.services.boxes[0].icon, DesktopServices::Icon::Stop);
    QVERIFY(t->lblMessage->text().isEmpty());
    QVERIFY(QFileInfo(t.dir.filePath(QStringLiteral("config.dat"))).isDir());
}

void TestSettings::failedWriteKeepsThePreviousFile()
{
#ifdef Q_OS_UNIX
    TestWindow t;
    const QByteArray previous("old.gateway\r\nold user\r\nold pass\r\n1\r\n");
    t.dir.writeConfig(previous);
    const QStringList before = QDir(t.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    fillAccount(t, QStringLiteral("new.gateway"), QStringLiteral("new user"), QStringLiteral("new pass"), false);
    t->lblMessage->setText(QStringLiteral("an earlier hint"));

    {
        // Room for a few bytes of the first line only.
        FileSizeLimit full(4);
        t->cmdSave_Click();
    }

    QCOMPARE(t.services.boxes.size(), 1);
    QCOMPARE(t.services.boxes[0].text, QStringLiteral("Error writing data to file \"") + t->configPath() + '"');
    QCOMPARE(t.services.boxes[0].icon, DesktopServices::Icon::Stop);
    QVERIFY(t->lblMessage->text().isEmpty());
    QCOMPARE(t.dir.readConfig(), previous);
    // No half-written file is left behind either.
    QCOMPARE(QDir(t.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
#else
    QSKIP("Needs a per-process file size limit");
#endif
}

void TestSettings::savedFileIsPrivate_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("new file") << false;
#ifdef Q_OS_WIN
    QTest::newRow("existing file with its folder's access") << true;
#else
    QTest::newRow("existing private file stays private") << true;
#endif
}

void TestSettings::savedFileIsPrivate()
{
#ifdef Q_OS_UNIX
    QFETCH(bool, exists);
    const QFileDevice::Permissions ownerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    TestWindow t;
    const QString path = t.dir.filePath(QStringLiteral("config.dat"));
    if (exists) {
        t.dir.writeConfig("a\r\nb\r\nc\r\n0\r\n");
        QVERIFY(QFile::setPermissions(path, ownerOnly));
    }
    fillAccount(t, QStringLiteral("gw"), QStringLiteral("u"), QStringLiteral("secret"), false);
    t->cmdSave_Click();
    QCOMPARE(t.dir.readConfig(), QByteArray("gw\r\nu\r\nsecret\r\n0\r\n"));
    QCOMPARE(QFile::permissions(path), ownerOnly);
#elif defined(Q_OS_WIN)
    // Windows: an access list of the file's own, which the folder's cannot widen.
    QFETCH(bool, exists);
    TestWindow t;
    const QString path = t.dir.filePath(QStringLiteral("config.dat"));
    if (exists)
        t.dir.writeConfig("a\r\nb\r\nc\r\n0\r\n");
    fillAccount(t, QStringLiteral("gw"), QStringLiteral("u"), QStringLiteral("secret"), false);
    t->cmdSave_Click();
    QCOMPARE(t.dir.readConfig(), QByteArray("gw\r\nu\r\nsecret\r\n0\r\n"));
    const FileAccessList list = fileAccessList(path);
    QVERIFY(list.read);
    // Wine keeps only a Unix mode made from the list, which it reads back as SYSTEM's and the
    // owner's entries: no more, but never protected.
    if (underWine())
        QEXPECT_FAIL("", "Wine keeps no access list with a file, only a mode made from it", Continue);
    QVERIFY(list.isProtected);
    // Full control (FILE_ALL_ACCESS) for SYSTEM and for the user, no one else.
    QStringList entries = list.entries;
    entries.sort();
    QCOMPARE(entries, (QStringList{"allow S-1-5-18 1f01ff", "allow " + currentUserSid() + " 1f01ff"}));
#else
    QSKIP("No way to make a file private known here");
#endif
}

void TestSettings::saveRefusesTextTheCodePageCannotHold_data()
{
    QTest::addColumn<QStringList>("typed"); // gateway, username, password
    QTest::addColumn<QString>("refused");   // the caption of the field named, or empty: saved

    QTest::newRow("letters it holds") << QStringList{"gw", "j\u00fcrgen", "p\u00e4ss"} << QString();
#if defined(Q_OS_WIN)
    // Windows writes a letter its ANSI code page lacks as a look-alike ("L" for "\u0141") or "?".
    if (ansiCodePage() != 1252)
        return;
    QTest::newRow("Windows-1252: password") << QStringList{"gw", "user", "pw\u0141"} << "Password";
    QTest::newRow("Windows-1252: username") << QStringList{"gw", "\u0141\u00f3d\u017a", "pw"} << "Username";
    QTest::newRow("Windows-1252: gateway") << QStringList{"\u5bc6.example", "user", "pw"} << "Gateway (Name or IP)";
#else
    // UTF-8 holds any text that can be typed; only a lone half of a surrogate pair has no encoding.
    QTest::newRow("UTF-8: any letter") << QStringList{"gw", "\u0141\u00f3d\u017a", "\u0141\u00f3d\u017a\u5bc6"}
                                       << QString();
    QTest::newRow("UTF-8: a lone surrogate")
        << QStringList{"gw", "user", QStringLiteral("pw") + QChar(0xd800)} << "Password";
#endif
}

void TestSettings::saveRefusesTextTheCodePageCannotHold()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, refused);
    TestWindow t;
    const QByteArray previous("old.gateway\r\nold user\r\nold pass\r\n1\r\n");
    t.dir.writeConfig(previous);
    const QStringList before = QDir(t.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    fillAccount(t, typed[0], typed[1], typed[2], false);
    t->lblMessage->setText(QStringLiteral("an earlier hint"));

    t->cmdSave_Click();

    QCOMPARE(t.services.boxes.size(), 1);
    QVERIFY(t->lblMessage->text().isEmpty());
    if (refused.isEmpty()) {
        QCOMPARE(t.services.boxes[0].text, QStringLiteral("Save Successfully"));
        fillAccount(t, QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"), true);
        t->LoadSettings();
        QCOMPARE(account(t), (QStringList{typed[0], typed[1], typed[2], "clear"}));
        return;
    }
    QCOMPARE(t.services.boxes[0].text,
             '"' + refused + QStringLiteral("\" cannot be saved in this system's character set. Nothing was saved."));
    QCOMPARE(t.services.boxes[0].icon, DesktopServices::Icon::Stop);
    QCOMPARE(t.dir.readConfig(), previous);
    QCOMPARE(QDir(t.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QCOMPARE(account(t), (QStringList{typed[0], typed[1], typed[2], "clear"}));
}

void TestSettings::pathWithSpacesAndNonAsciiLetters()
{
    TestWindow t;
    const QString appDir = t.dir.filePath(QStringLiteral("Program Files/V\u00e9strel \u00c5\u00df"));
    QVERIFY(QDir().mkpath(appDir));
    t.services.setAppPath(appDir);
    const QString path = appDir + QStringLiteral("/config.dat");
    QCOMPARE(t->configPath(), path);

    t->LoadSettings();
    QCOMPARE(t->lblMessage->text(), accessFailed(path));

    fillAccount(t, QStringLiteral("gw"), QStringLiteral("u"), QStringLiteral("p"), true);
    t->cmdSave_Click();
    QCOMPARE(t.services.boxes.size(), 1);
    QCOMPARE(t.services.boxes[0].text, QStringLiteral("Save Successfully"));
    QVERIFY(QFile::exists(path));

    fillAccount(t, QString(), QString(), QString(), false);
    t->LoadSettings();
    QCOMPARE(account(t), (QStringList{"gw", "u", "p", "ticked"}));
}

void TestSettings::loadAppliesFourLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("loaded");

    QTest::newRow("ticked") << QByteArray("gw\r\nuser\r\npass\r\n1\r\n") << QStringList{"gw", "user", "pass", "ticked"};
    QTest::newRow("empty fields") << QByteArray("\r\n\r\n\r\n\r\n") << QStringList{"", "", "", "clear"};
}

void TestSettings::loadAppliesFourLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, loaded);
    TestWindow t;
    fillAccount(t, QStringLiteral("old gw"), QStringLiteral("old user"), QStringLiteral("old pass"), false);
    t->lblMessage->setText(QStringLiteral("an earlier hint"));
    t.dir.writeConfig(file);

    t->LoadSettings();

    QCOMPARE(account(t), loaded);
    // A successful load shows nothing itself; only the service switch, run by ticking the box,
    // puts up its own hint.
    if (!t->chkDisableService->isChecked())
        QCOMPARE(t->lblMessage->text(), QStringLiteral("an earlier hint"));
    QVERIFY(t.services.boxes.isEmpty());
}

void TestSettings::loadThatFailsAppliesNothing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("three lines") << QByteArray("gw\r\nuser\r\n1\r\n");
    QTest::newRow("a field too long") << "gw\r\nuser\r\n" + QByteArray(kMaxAccountField + 1, 'x') + "\r\n1\r\n";
}

void TestSettings::loadThatFailsAppliesNothing()
{
    QFETCH(QByteArray, file);
    TestWindow t;
    fillAccount(t, QStringLiteral("old gw"), QStringLiteral("old user"), QStringLiteral("old pass"), false);
    t.dir.writeConfig(file);
    QSignalSpy clicks(t->chkDisableService, &QCheckBox::stateChanged);

    t->LoadSettings();

    QCOMPARE(t->lblMessage->text(), kEnterAccount);
    QCOMPARE(account(t), (QStringList{"old gw", "old user", "old pass", "clear"}));
    QCOMPARE(clicks.size(), 0);
}

void TestSettings::loadWithoutAReadableFile_data()
{
    QTest::addColumn<bool>("directoryInItsPlace");
    QTest::newRow("no file") << false;
    QTest::newRow("config.dat is a directory") << true;
}

void TestSettings::loadWithoutAReadableFile()
{
    QFETCH(bool, directoryInItsPlace);
    TestWindow t;
    if (directoryInItsPlace)
        QVERIFY(QDir(t.dir.path()).mkdir(QStringLiteral("config.dat")));
    fillAccount(t, QStringLiteral("old gw"), QStringLiteral("old user"), QStringLiteral("old pass"), true);
    QSignalSpy clicks(t->chkDisableService, &QCheckBox::stateChanged);

    t->LoadSettings();

    QCOMPARE(t->lblMessage->text(), accessFailed(t.dir.path() + QStringLiteral("/config.dat")));
    QCOMPARE(account(t), (QStringList{"old gw", "old user", "old pass", "ticked"}));
    QCOMPARE(clicks.size(), 0);
    QVERIFY(t.services.boxes.isEmpty());
}

void TestSettings::flagLineSetsTheBoxOnlyWhenItChanges_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<bool>("tickedBefore");
    QTest::addColumn<bool>("tickedAfter");

    QTest::newRow("1 into a clear box") << QByteArray("1") << false << true;
    QTest::newRow("0 into a clear box") << QByteArray("0") << false << false;
    QTest::newRow("1 into a ticked box") << QByteArray("1") << true << true;
    QTest::newRow("0 into a ticked box") << QByteArray("0") << true << false;
}

void TestSettings::flagLineSetsTheBoxOnlyWhenItChanges()
{
    QFETCH(QByteArray, flag);
    QFETCH(bool, tickedBefore);
    QFETCH(bool, tickedAfter);
    TestWindow t;
    t->chkDisableService->setChecked(tickedBefore);
    t.dir.writeConfig("gw\r\nuser\r\npass\r\n" + flag + "\r\n");
    QSignalSpy clicks(t->chkDisableService, &QCheckBox::stateChanged);

    t->LoadSettings();

    QCOMPARE(t->chkDisableService->isChecked(), tickedAfter);
    QCOMPARE(clicks.size(), tickedBefore == tickedAfter ? 0 : 1);
}

void TestSettings::loadedFlagRunsTheServiceSwitch_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<bool>("tickedBefore");
    QTest::addColumn<int>("closes");
    QTest::addColumn<bool>("disabled");

    QTest::newRow("1 into a clear box") << QByteArray("1") << false << 1 << true;
    QTest::newRow("1 into a ticked box") << QByteArray("1") << true << 0 << true;
    QTest::newRow("0 into a ticked box") << QByteArray("0") << true << 1 << false;
}

void TestSettings::loadedFlagRunsTheServiceSwitch()
{
    QFETCH(QByteArray, flag);
    QFETCH(bool, tickedBefore);
    QFETCH(int, closes);
    QFETCH(bool, disabled);
    TestWindow t;
    t->chkDisableService->setChecked(tickedBefore);
    t.socket.calls.clear();
    t.dir.writeConfig("gw\r\nuser\r\npass\r\n" + flag + "\r\n");

    t->LoadSettings();

    QCOMPARE(t.socket.calls.count(QStringLiteral("Close")), closes);
    QCOMPARE(t->blnDisabled, disabled);
    QVERIFY(!t.socket.calls.contains(QStringLiteral("Connect")));
    // The handler's hint is not overwritten by the rest of the load.
    if (disabled)
        QCOMPARE(t->lblMessage->text(), QStringLiteral("If you want to connect, please uncheck \"Disable Service\""));
}

void TestSettings::startUpWithTheServiceDisabled()
{
    TestWindow t;
    t.dir.writeConfig("gw\r\nuser\r\npass\r\n1\r\n");
    t->load();

    QVERIFY(!t.services.ended);
    QCOMPARE(account(t), (QStringList{"gw", "user", "pass", "ticked"}));
    // Had the box been ticked only after the first tick, that tick would have connected.
    QVERIFY(!t.socket.calls.contains(QStringLiteral("Connect")));
    QVERIFY(t->blnDisabled);
}

int main(int argc, char *argv[])
{
    // A path's non-ASCII letters are UTF-8 bytes on disk, whatever locale the test is run from.
    qputenv("LC_ALL", "C.UTF-8");
    QApplication app(argc, argv);
    TestSettings tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_settingshandlers.moc"
