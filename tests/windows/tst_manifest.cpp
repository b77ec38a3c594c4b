// The application manifest as Windows finds it in the built programs: read through the resource
// functions the loader uses, parsed with its namespaces, since an element in the wrong namespace
// is silently ignored by Windows.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <utility>

#include <windows.h>

namespace {

// One element of the manifest: where it stands (local names from the root), its namespace, its
// attributes and its text.
struct Element {
    QString path;
    QString ns;
    QHash<QString, QString> attributes;
    QString text;
};

struct Manifest {
    int count = 0;  // RT_MANIFEST resources, of any number and language
    QByteArray xml; // the one the loader reads: number 1
};

BOOL CALLBACK countLanguages(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

BOOL CALLBACK countNames(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR count)
{
    EnumResourceLanguagesW(module, type, name, countLanguages, count);
    return TRUE;
}

Manifest readManifest(const QString &program)
{
    Manifest manifest;
    const QString native = QDir::toNativeSeparators(QFileInfo(program).absoluteFilePath());
    const HMODULE module = LoadLibraryExW(reinterpret_cast<LPCWSTR>(native.utf16()), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return manifest;
    const LPCWSTR manifestType = MAKEINTRESOURCEW(24); // RT_MANIFEST
    EnumResourceNamesW(module, manifestType, countNames, reinterpret_cast<LONG_PTR>(&manifest.count));
    // CREATEPROCESS_MANIFEST_RESOURCE_ID: the one read when the program starts.
    if (const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), manifestType)) {
        const auto *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
        manifest.xml = QByteArray(data, qsizetype(SizeofResource(module, found)));
    }
    FreeLibrary(module);
    return manifest;
}

// Every element, or nothing when the text is not well-formed XML (Windows then refuses to start
// the program).
QList<Element> elements(const QByteArray &xml)
{
    QList<Element> found;
    QStringList path;
    QList<qsizetype> open;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            path.append(reader.name().toString());
            Element element{path.join(u'/'), reader.namespaceUri().toString(), {}, {}};
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                element.attributes.insert(attribute.name().toString(), attribute.value().toString());
            open.append(found.size());
            found.append(element);
        } else if (reader.isCharacters() && !open.isEmpty()) {
            found[open.last()].text += reader.text();
        } else if (reader.isEndElement()) {
            path.removeLast();
            open.removeLast();
        }
    }
    if (reader.hasError())
        return {};
    return found;
}

} // namespace

class TestManifest : public QObject
{
    Q_OBJECT
private slots:
    void everyProgramCarriesOne_data();
    void everyProgramCarriesOne();
    void declares_data();
    void declares();
    void leavesTheCodePageToTheSystem();

private:
    QList<Element> m_elements = elements(readManifest(QStringLiteral(VESTREL_PROGRAM_PATH)).xml);
};

// Exactly one: a second one (a toolchain's default manifest beside the program's) would leave the
// choice to the linker.
void TestManifest::everyProgramCarriesOne_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("vestrel") << QStringLiteral(VESTREL_PROGRAM_PATH);
    QTest::newRow("a test's variant") << QStringLiteral(VESTREL_INSTANCE_PATH);
}

void TestManifest::everyProgramCarriesOne()
{
    QFETCH(QString, program);
    const Manifest manifest = readManifest(program);
    QCOMPARE(manifest.count, 1);
    QVERIFY(!manifest.xml.isEmpty());
    QVERIFY2(!elements(manifest.xml).isEmpty(), manifest.xml.constData());
}

void TestManifest::declares_data()
{
    const QString asmV1 = QStringLiteral("urn:schemas-microsoft-com:asm.v1");
    const QString asmV3 = QStringLiteral("urn:schemas-microsoft-com:asm.v3");
    const QString settings = QStringLiteral("assembly/application/windowsSettings");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("ns");
    QTest::addColumn<QString>("attributes"); // name=value, separated by spaces
    QTest::addColumn<QString>("text");

    QTest::newRow("runs as the user who starts it")
        << "assembly/trustInfo/security/requestedPrivileges/requestedExecutionLevel" << asmV3
        << "level=asInvoker uiAccess=false" << QString();
    QTest::newRow("made for Windows 10 and 11") << "assembly/compatibility/application/supportedOS"
                                                << "urn:schemas-microsoft-com:compatibility.v1"
                                                << "Id={8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" << QString();
    QTest::newRow("common controls 6")
        << "assembly/dependency/dependentAssembly/assemblyIdentity" << asmV1
        << "type=win32 name=Microsoft.Windows.Common-Controls version=6.0.0.0 processorArchitecture=* "
           "publicKeyToken=6595b64144ccf1df"
        << QString();
    QTest::newRow("settings where Windows looks for them") << settings << asmV3 << QString() << QString();
    QTest::newRow("per-monitor v2 DPI awareness")
        << settings + "/dpiAwareness"
        << "http://schemas.microsoft.com/SMI/2016/WindowsSettings" << QString() << "PerMonitorV2";
    QTest::newRow("per-monitor DPI awareness before dpiAwareness")
        << settings + "/dpiAware"
        << "http://schemas.microsoft.com/SMI/2005/WindowsSettings" << QString() << "true/pm";
    QTest::newRow("paths past MAX_PATH") << settings + "/longPathAware"
                                         << "http://schemas.microsoft.com/SMI/2016/WindowsSettings" << QString()
                                         << "true";
}

void TestManifest::declares()
{
    QFETCH(QString, path);
    QFETCH(QString, ns);
    QFETCH(QString, attributes);
    QFETCH(QString, text);
    QVERIFY(!m_elements.isEmpty());
    const QStringList wanted = attributes.split(u' ', Qt::SkipEmptyParts);
    const auto matches = [&](const Element &element) {
        if (element.path != path || element.ns != ns || element.text.trimmed() != text)
            return false;
        return std::all_of(wanted.cbegin(), wanted.cend(), [&](const QString &pair) {
            const qsizetype equals = pair.indexOf(u'=');
            return element.attributes.value(pair.left(equals)) == pair.mid(equals + 1);
        });
    };
    QVERIFY(std::any_of(m_elements.cbegin(), m_elements.cend(), matches));
}

// config.dat is read and written in the system's ANSI code page; a declared one would change it.
void TestManifest::leavesTheCodePageToTheSystem()
{
    QVERIFY(!m_elements.isEmpty());
    for (const Element &element : std::as_const(m_elements))
        QVERIFY2(!element.path.endsWith(QLatin1String("activeCodePage")), qPrintable(element.path));
}

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
