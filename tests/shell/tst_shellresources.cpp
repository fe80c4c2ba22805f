#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

// Every text the window and the worker show, with its Chinese form: context, source, translation.
const char *const translations[][3] = {
    { "MainWindow", "%1 is invalid!", "%1无效!" },
    { "MainWindow", "(Optional)", "(可选)" },
    { "MainWindow", "<html><head/><body><p>1.Get CpuID</p><p>2.Encrypt</p><p>3.Write</p></body></html>",
        "<html><head/><body><p>1.读取CpuID</p><p>2.加密</p><p>3.写入</p></body></html>" },
    { "MainWindow",
        "<html><head/><body><p>1.Select Data</p><p>2.Encrypt(Optional)</p><p>3.Write</p></body></html>",
        "<html><head/><body><p>1.选择写入数据</p><p>2.加密(可选)</p><p>3.写入</p></body></html>" },
    { "MainWindow", "<html><head/><body><p>1.Select Oem Key</p><p>2.Write</p></body></html>",
        "<html><head/><body><p>1.选择Oem密钥</p><p>2.写入</p></body></html>" },
    { "MainWindow", "Action failed,err=%1!", "执行失败,错误码=%1!" },
    { "MainWindow", "Action is still running,stop quit!", "还有操作在执行,停止退出!" },
    { "MainWindow", "Action ok.", "执行成功" },
    { "MainWindow", "Basic Level", "初级" },
    { "MainWindow", "Browse...", "浏览..." },
    { "MainWindow", "Data...", "数据..." },
    { "MainWindow", "Dll did not support to do basic action!", "动态库不支持初级操作!" },
    { "MainWindow", "Dll did not support to do high action!", "动态库不支持高级操作!" },
    { "MainWindow", "Dll did not support to do middle action!", "动态库不支持中级操作!" },
    { "MainWindow", "Dll is not loaded!", "动态库未加载!" },
    { "MainWindow", "Dll:", "动态库:" },
    { "MainWindow", "Failed to load %1!", "加载%1失败!" },
    { "MainWindow", "High Level", "高级" },
    { "MainWindow", "Key...", "密钥..." },
    { "MainWindow", "Korvane", "科尔瓦内" },
    { "MainWindow", "Middle Level", "中级" },
    { "MainWindow", "No key file!", "密钥未选择!" },
    { "MainWindow", "No plain file!", "明文未选择!" },
    { "MainWindow", "Run", "执行" },
    { "MainWindow", "Select a Dll", "选择一个动态库" },
    { "MainWindow", "Select a Key", "选择密钥" },
    { "MainWindow", "Select a Plain", "选择明文" },
    { "MainWindow", "action can only work on the loader device!", "当前操作只支持loader设备!" },
    { "MainWindow", "no available device!", "没有可操作设备!" },
    { "MainWindow", "size invalid for key file!", "无效的密钥文件大小" },
    { "MainWindow", "size invalid for plain file!", "无效的明文文件大小" },
    { "ThreadWorker", "basic action done", "初级操作执行成功" },
    { "ThreadWorker", "encode cpuid...", "加密cpuid..." },
    { "ThreadWorker", "encode cpuid...fail", "加密cpuid...失败" },
    { "ThreadWorker", "encode data...", "正在加密明文..." },
    { "ThreadWorker", "encode data...fail", "加密明文...失败" },
    { "ThreadWorker", "high action done", "高级操作执行成功" },
    { "ThreadWorker", "invalid action", "无效操作" },
    { "ThreadWorker", "middle action done", "中级操作执行成功" },
    { "ThreadWorker", "read cpuid...", "读取cpuid..." },
    { "ThreadWorker", "read cpuid...fail", "读取cpuid...失败" },
    { "ThreadWorker", "read data file...fail", "读取明文文件...失败" },
    { "ThreadWorker", "read key file...fail", "读取密钥文件...失败" },
    { "ThreadWorker", "write cpuid...", "写入cpuid..." },
    { "ThreadWorker", "write cpuid...fail", "写入cpuid...失败" },
    { "ThreadWorker", "write encoded data...", "正在写入密文数据..." },
    { "ThreadWorker", "write encoded data...fail", "写入密文数据...失败" },
    { "ThreadWorker", "write oem key...", "正在写入oem密钥..." },
    { "ThreadWorker", "write oem key...fail", "写入oem密钥...失败" },
    { "ThreadWorker", "check cpuid...fail", "检查cpuid...失败" },
    { "ThreadWorker", "cpuid already written at %1", "cpuid已于%1写入" },
    { "ThreadWorker", "write trace...fail", "写入追溯记录...失败" },
};

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

    void everyTextTranslated()
    {
        for (const auto &text : translations)
            QCOMPARE(translator.translate(text[0], text[1]), QString::fromUtf8(text[2]));
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
