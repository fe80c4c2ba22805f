#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class TestShellResources : public QObject
{
    Q_OBJECT

    QTranslator translator;

private slots:
    void initTestCase()
    {
        QVERIFY(translator.load(QStringLiteral(":/i18n/Korvane_zh_CN.qm")));
        const QImage icon(QStringLiteral(":/image/res/app.png"));
        QCOMPARE(icon.size(), QSize(128, 128));
        QVERIFY(icon.hasAlphaChannel());
    }

    void placeholdersSurviveAndStatusTextsStayEnglish()
    {
        QVERIFY(QCoreApplication::installTranslator(&translator));
        QCOMPARE(QCoreApplication::translate("MainWindow", "Failed to load %1!").arg(QStringLiteral("x.so")),
            QString::fromUtf8("加载x.so失败!"));
        // The status texts are shown as they are: the translation holds none of them.
        for (const char *status :
            { "One Maskrom device", "One Loader device", "One invalid device", "Many devices" })
            QCOMPARE(QCoreApplication::translate("MainWindow", status), QString::fromLatin1(status));
        QVERIFY(QCoreApplication::removeTranslator(&translator));
    }

    void windowsResourceScriptCompiles()
    {
        const QString windres = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
        if (windres.isEmpty())
            QSKIP("x86_64-w64-mingw32-windres is not installed");
        QTemporaryDir output;
        const QStringList arguments { "-i", KORVANE_RES_DIR "/korvane.rc", "-o",
            output.filePath("korvane.res") };
        QCOMPARE(QProcess::execute(windres, arguments), 0);
    }
};

QTEST_GUILESS_MAIN(TestShellResources)
#include "tst_shellresources.moc"
