#include <QtTest>

#include "strip/numbers.h"

#include <clocale>
#include <cmath>
#include <limits>

class NumbersTest : public QObject
{
    Q_OBJECT

private slots:
    void reading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("10") << QStringLiteral("10") << 10.0;
        QTest::newRow("12abc") << QStringLiteral("12abc") << 12.0;
        QTest::newRow("1 2: blanks dropped inside") << QStringLiteral("1 2") << 12.0;
        QTest::newRow("1e1") << QStringLiteral("1e1") << 10.0;
        QTest::newRow("1E1") << QStringLiteral("1E1") << 10.0;
        QTest::newRow("2.5") << QStringLiteral("2.5") << 2.5;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("only blanks") << QStringLiteral("  \t\n ") << 0.0;
        QTest::newRow("abc") << QStringLiteral("abc") << 0.0;
        QTest::newRow("0") << QStringLiteral("0") << 0.0;
        QTest::newRow("-3") << QStringLiteral("-3") << -3.0;
        QTest::newRow("+4") << QStringLiteral("+4") << 4.0;
        QTest::newRow("100") << QStringLiteral("100") << 100.0;
        QTest::newRow("101") << QStringLiteral("101") << 101.0;
        QTest::newRow("1e999 overflows") << QStringLiteral("1e999") << inf;
        QTest::newRow("-1e999") << QStringLiteral("-1e999") << -inf;
        QTest::newRow("1e-999 underflows") << QStringLiteral("1e-999") << 0.0;
        QTest::newRow("blanks around") << QStringLiteral(" 10 ") << 10.0;
        QTest::newRow("tab and line feed") << QStringLiteral("\t7\n") << 7.0;
        QTest::newRow("blank between sign and digits") << QStringLiteral("- 3") << -3.0;
        QTest::newRow("blank inside exponent") << QStringLiteral("1 e 2") << 100.0;
        QTest::newRow("carriage return is not dropped") << QStringLiteral("1\r2") << 1.0;
        QTest::newRow("comma is no decimal separator") << QStringLiteral("1,5") << 1.0;
        QTest::newRow("0x10: no hexadecimal") << QStringLiteral("0x10") << 0.0;
        QTest::newRow("&H10: no hexadecimal") << QStringLiteral("&H10") << 0.0;
        QTest::newRow("fullwidth digits are no digits") << QStringLiteral("\uFF11\uFF12") << 0.0;
        QTest::newRow("digits then fullwidth") << QStringLiteral("3\uFF11") << 3.0;
        QTest::newRow(".5") << QStringLiteral(".5") << 0.5;
        QTest::newRow("5.") << QStringLiteral("5.") << 5.0;
        QTest::newRow("-.5") << QStringLiteral("-.5") << -0.5;
        QTest::newRow("point alone") << QStringLiteral(".") << 0.0;
        QTest::newRow("sign alone") << QStringLiteral("-") << 0.0;
        QTest::newRow("1e: exponent without digits") << QStringLiteral("1e") << 1.0;
        QTest::newRow("1e+: exponent without digits") << QStringLiteral("1e+") << 1.0;
        QTest::newRow("1ex") << QStringLiteral("1ex") << 1.0;
        QTest::newRow("2.5e-1") << QStringLiteral("2.5e-1") << 0.25;
        QTest::newRow("5.e1") << QStringLiteral("5.e1") << 50.0;
        QTest::newRow("second point ends it") << QStringLiteral("1.2.3") << 1.2;
        QTest::newRow("second sign ends it") << QStringLiteral("+-3") << 0.0;
        QTest::newRow("leading zeros") << QStringLiteral("007") << 7.0;
        QTest::newRow("many digits") << QStringLiteral("12345678901234567890") << 12345678901234567890.0;
        QTest::newRow("e alone") << QStringLiteral("e5") << 0.0;
        QTest::newRow("0.1") << QStringLiteral("0.1") << 0.1;
    }
    void reading()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        const double read = strip::readNumber(text);
        if (std::isinf(value))
            QCOMPARE(read, value);
        else
            QVERIFY2(read == value, qPrintable(QString::number(read, 'g', 17)));
        QVERIFY(!std::isnan(read));
    }

    // A German user types the point as well; neither the C library's locale nor Qt's default
    // locale may turn it into a comma reading.
    void pointWhateverTheLocale()
    {
        const QByteArray before = std::setlocale(LC_ALL, nullptr);
        const QLocale qtBefore;
        const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "de_DE.utf8");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const double read = strip::readNumber(QStringLiteral("2.5"));
        const double comma = strip::readNumber(QStringLiteral("2,5"));
        const QString form = strip::numberForm(2.5);
        std::setlocale(LC_ALL, before.constData());
        QLocale::setDefault(qtBefore);
        QCOMPARE(read, 2.5);
        QCOMPARE(comma, 2.0);
        QCOMPARE(form, QStringLiteral(" 2.5"));
        if (!german)
            QSKIP("the C library has no German locale here; only Qt's default locale was German");
    }

    void form_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("7") << 7.0 << QStringLiteral(" 7");
        QTest::newRow("100") << 100.0 << QStringLiteral(" 100");
        QTest::newRow("0") << 0.0 << QStringLiteral(" 0");
        QTest::newRow("10: no point, no zero") << 10.0 << QStringLiteral(" 10");
        QTest::newRow("2.5") << 2.5 << QStringLiteral(" 2.5");
        QTest::newRow("0.1") << 0.1 << QStringLiteral(" 0.1");
        QTest::newRow("0.1 + 0.2 shown as 15 digits give it") << 0.1 + 0.2 << QStringLiteral(" 0.3");
        QTest::newRow("1/3") << 1.0 / 3 << QStringLiteral(" 0.333333333333333");
        QTest::newRow("2/3 rounds the 15th digit") << 2.0 / 3 << QStringLiteral(" 0.666666666666667");
        QTest::newRow("12.125") << 12.125 << QStringLiteral(" 12.125");
        QTest::newRow("0.001") << 0.001 << QStringLiteral(" 0.001");
        QTest::newRow("large whole") << 999999999999999.0 << QStringLiteral(" 999999999999999");
        QTest::newRow("whole beyond 15 digits") << 1e20 << QStringLiteral(" 1e+20");
        QTest::newRow("negative") << -3.0 << QStringLiteral("-3");
    }
    void form()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(strip::numberForm(value), text);
    }

    void formOfInfinityDoesNotCrash()
    {
        QVERIFY(!strip::numberForm(std::numeric_limits<double>::infinity()).isEmpty());
        QVERIFY(!strip::numberForm(std::numeric_limits<double>::quiet_NaN()).isEmpty());
    }

    // The form is read back to the same value (up to 15 digits), so a field reset survives.
    void formReadsBack()
    {
        for (double v : {1.0, 2.5, 7.0, 0.125, 3.75, 99.5, 1.0 / 3})
            QCOMPARE(strip::readNumber(strip::numberForm(v)), QString::number(v, 'g', 15).toDouble());
    }
};

QTEST_GUILESS_MAIN(NumbersTest)
#include "tst_numbers.moc"
