#include "translation.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

// The translation chosen from the system's interface languages.
class TestTranslation : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
};

void TestTranslation::choice_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<bool>("loads");

    QTest::newRow("English first, then Chinese") << QStringList { "en-US", "zh-CN" } << true;
    QTest::newRow("script subtag") << QStringList { "zh-Hans-CN" } << true;
    QTest::newRow("underscore form") << QStringList { "zh_CN" } << true;
    QTest::newRow("traditional Chinese alone") << QStringList { "zh-TW" } << false;
    QTest::newRow("English alone") << QStringList { "en-US", "en" } << false;
    QTest::newRow("empty list") << QStringList() << false;
}

void TestTranslation::choice()
{
    QFETCH(QStringList, languages);
    QFETCH(bool, loads);

    QTranslator translator;
    QCOMPARE(loadTranslationFor(translator, languages), loads);
    QCOMPARE(translator.isEmpty(), !loads);
    QCOMPARE(translator.language(), loads ? QStringLiteral("zh_CN") : QString());
    if (loads)
        QCOMPARE(translator.translate("MainWindow", "Korvane"), QStringLiteral("科尔瓦内"));
    // Choosing installs nothing: start-up does that.
    QCOMPARE(QCoreApplication::translate("MainWindow", "Korvane"), QStringLiteral("Korvane"));
}

QTEST_GUILESS_MAIN(TestTranslation)
#include "tst_translation.moc"
