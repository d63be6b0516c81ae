// The manual pages as readers get them: groff finds nothing to warn about, and words meant to
// stand apart are not run together by the macros that alternate fonts.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QString manDir = QStringLiteral(CORVANE_MAN_DIR);

QString groff()
{
    return QStandardPaths::findExecutable(QStringLiteral("groff"));
}

#define REQUIRE_GROFF()                                                                             \
    do {                                                                                           \
        if (groff().isEmpty())                                                                     \
            QSKIP("groff is missing (apt-get install groff-base): the pages are not checked");     \
    } while (false)

struct Ran {
    int status = -1;
    QString out, err;
};

Ran runGroff(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(groff(), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// A request line's arguments as groff reads them: split at blanks, a quoted one taken whole
// ("" inside it is one quote).
QStringList requestArguments(const QString &rest)
{
    QStringList args;
    for (qsizetype i = 0; i < rest.size();) {
        if (rest[i] == u' ') {
            ++i;
            continue;
        }
        QString arg;
        if (rest[i] == u'"') {
            for (++i; i < rest.size(); ++i) {
                if (rest[i] == u'"') {
                    if (i + 1 < rest.size() && rest[i + 1] == u'"') {
                        arg += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                arg += rest[i];
            }
        } else {
            while (i < rest.size() && rest[i] != u' ')
                arg += rest[i++];
        }
        args.append(arg);
    }
    return args;
}

} // namespace

class TestManPages : public QObject
{
    Q_OBJECT

private slots:
    void groffFindsNothing_data();
    void groffFindsNothing();
    void alternatingFontsKeepTheirBlanks_data();
    void alternatingFontsKeepTheirBlanks();
};

void TestManPages::groffFindsNothing_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("corvane") << QStringLiteral("corvane.1");
    QTest::newRow("corvane-strip") << QStringLiteral("corvane-strip.1");
}

// Every warning groff has, turned on.
void TestManPages::groffFindsNothing()
{
    QFETCH(QString, page);
    REQUIRE_GROFF();
    const Ran r = runGroff({QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"), manDir + u'/' + page});
    QCOMPARE(r.err, QString());
    QCOMPARE(r.status, 0);
}

void TestManPages::alternatingFontsKeepTheirBlanks_data()
{
    groffFindsNothing_data();
}

// .BI, .IB, .IR, .RI, .BR and .RB join their arguments without a blank: an argument that ends
// a word followed by one that starts another runs two words together ("andso"). Text meant
// to read with its blanks goes on a line of its own, or in quotes.
void TestManPages::alternatingFontsKeepTheirBlanks()
{
    QFETCH(QString, page);
    QFile file(manDir + u'/' + page);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    static const QRegularExpression request(QStringLiteral("^\\.(BI|IB|IR|RI|BR|RB) (.*)$"));
    static const QRegularExpression wordEnd(QStringLiteral("[\\w,.;:)](\\\\f[RBIP])?$"));
    static const QRegularExpression wordStart(QStringLiteral("^\\w"));
    QStringList joined;
    int number = 0;
    int checked = 0;
    for (const QByteArray &bytes : file.readAll().split('\n')) {
        ++number;
        const QRegularExpressionMatch m = request.match(QString::fromUtf8(bytes));
        if (!m.hasMatch())
            continue;
        ++checked;
        const QStringList args = requestArguments(m.captured(2));
        for (qsizetype k = 0; k + 1 < args.size(); ++k)
            if (wordEnd.match(args[k]).hasMatch() && wordStart.match(args[k + 1]).hasMatch())
                joined.append(QStringLiteral("line %1: '%2' and '%3' run together in: %4")
                                  .arg(number).arg(args[k], args[k + 1], QString::fromUtf8(bytes)));
    }
    QVERIFY2(checked > 0, "the page has no line with alternating fonts: the check would pass on any page");
    QVERIFY2(joined.isEmpty(), qPrintable(joined.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestManPages)
#include "tst_manpages.moc"
