#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QResource>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstdlib>

namespace {

const QString translationResource = QStringLiteral(":/i18n/Korvane_zh_CN.qm");
const QString iconResource = QStringLiteral(":/image/res/app.png");
const QString resourceDirectory = QStringLiteral(KORVANE_RES_DIR);

struct Translation
{
    const char *context;
    const char *source;
    const char *translation;
};

// Every text the window and the worker show, with its Chinese form.
const Translation translations[] = {
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
};

struct IconImage
{
    int width;
    int height;
    int bitCount;
};

quint16 u16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// The image list of an icon file (16-byte entries) or of an icon group resource
// (14-byte entries); both start with a 6-byte header that holds the count.
QList<IconImage> iconImages(const QByteArray &directory, int entrySize)
{
    QList<IconImage> images;
    if (directory.size() < 6 || u16(directory, 2) != 1)
        return images;
    const int count = u16(directory, 4);
    for (int i = 0; i < count && 6 + (i + 1) * entrySize <= directory.size(); ++i) {
        const qsizetype at = 6 + i * entrySize;
        images.append({ quint8(directory.at(at)), quint8(directory.at(at + 1)), u16(directory, at + 6) });
    }
    return images;
}

// One resource of a compiled Windows resource file: type and name are either a number
// or a string.
struct WindowsResource
{
    QVariant type;
    QVariant name;
    quint16 language = 0;
    QByteArray data;
};

QVariant readNameOrId(const QByteArray &bytes, qsizetype &at)
{
    if (u16(bytes, at) == 0xFFFF) {
        const int id = u16(bytes, at + 2);
        at += 4;
        return id;
    }
    QString name;
    for (; at + 2 <= bytes.size() && u16(bytes, at) != 0; at += 2)
        name.append(QChar(u16(bytes, at)));
    at += 2;
    return name;
}

QList<WindowsResource> parseResourceFile(const QByteArray &bytes)
{
    QList<WindowsResource> resources;
    qsizetype at = 0;
    while (at + 32 <= bytes.size()) {
        const quint32 dataSize = u32(bytes, at);
        const quint32 headerSize = u32(bytes, at + 4);
        qsizetype field = at + 8;
        WindowsResource resource;
        resource.type = readNameOrId(bytes, field);
        resource.name = readNameOrId(bytes, field);
        field = (field + 3) & ~qsizetype(3);
        resource.language = u16(bytes, field + 6);
        resource.data = bytes.mid(at + headerSize, dataSize);
        // The file opens with an empty entry of type 0.
        if (resource.type != QVariant(0))
            resources.append(resource);
        at = (at + headerSize + dataSize + 3) & ~qsizetype(3);
    }
    return resources;
}

// The mean difference per channel between two images of one size, from 0 to 255.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage first = a.convertToFormat(QImage::Format_ARGB32);
    const QImage second = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y);
            const QRgb q = second.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (4.0 * first.width() * first.height());
}

} // namespace

class TestShellResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextTranslated_data();
    void everyTextTranslated();
    void placeholdersSurviveAndStatusTextsStayEnglish();
    void windowIconIs128PixelRgba();
    void windowsIconHoldsThreeSizesOfTheSameArtwork();
    void windowsResourceScriptCompiles();

private:
    QTranslator translator;
};

void TestShellResources::initTestCase()
{
    QVERIFY(translator.load(translationResource));
    QCOMPARE(translator.language(), QStringLiteral("zh_CN"));
}

void TestShellResources::everyTextTranslated_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");

    for (const Translation &t : translations) {
        QTest::addRow("%s %s", t.context, t.source)
            << QString::fromUtf8(t.context) << QString::fromUtf8(t.source)
            << QString::fromUtf8(t.translation);
    }
}

void TestShellResources::everyTextTranslated()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);

    QCOMPARE(translator.translate(context.toUtf8().constData(), source.toUtf8().constData()), translation);
    // Looked up only in its own context.
    const char *other = context == QLatin1String("MainWindow") ? "ThreadWorker" : "MainWindow";
    QCOMPARE(translator.translate(other, source.toUtf8().constData()), QString());
}

void TestShellResources::placeholdersSurviveAndStatusTextsStayEnglish()
{
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QString path = QStringLiteral("/opt/bench/plugin.so");
    QCOMPARE(QCoreApplication::translate("MainWindow", "Failed to load %1!").arg(path),
        QString::fromUtf8("加载") + path + QString::fromUtf8("失败!"));
    QCOMPARE(QCoreApplication::translate("MainWindow", "%1 is invalid!").arg(path),
        path + QString::fromUtf8("无效!"));
    QCOMPARE(QCoreApplication::translate("MainWindow", "Action failed,err=%1!").arg(-5),
        QString::fromUtf8("执行失败,错误码=-5!"));

    // Shown without a lookup, so no translation may exist for them in any context.
    for (const char *status :
        { "One Maskrom device", "One Loader device", "One invalid device", "Many devices" }) {
        QCOMPARE(QCoreApplication::translate("MainWindow", status), QString::fromLatin1(status));
        QCOMPARE(QCoreApplication::translate("ThreadWorker", status), QString::fromLatin1(status));
    }
    QVERIFY(QCoreApplication::removeTranslator(&translator));
}

void TestShellResources::windowIconIs128PixelRgba()
{
    QFile file(iconResource);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 16), 128u);
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 20), 128u);
    QCOMPARE(int(png.at(24)), 8); // bits per channel
    QCOMPARE(int(png.at(25)), 6); // colour type RGBA
    QCOMPARE(int(png.at(28)), 0); // not interlaced

    const QImage image(iconResource);
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(image.hasAlphaChannel());

    QCOMPARE(QResource(iconResource).compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(QResource(translationResource).compressionAlgorithm(), QResource::NoCompression);
}

void TestShellResources::windowsIconHoldsThreeSizesOfTheSameArtwork()
{
    const QString icoPath = resourceDirectory + QStringLiteral("/app.ico");
    QFile file(icoPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<IconImage> entries = iconImages(file.readAll(), 16);
    QCOMPARE(entries.size(), 3);

    const QImage artwork(iconResource);
    QImageReader reader(icoPath);
    QCOMPARE(reader.imageCount(), 3);
    const int sizes[] = { 16, 32, 48 };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(entries.at(i).width, sizes[i]);
        QCOMPARE(entries.at(i).height, sizes[i]);
        QCOMPARE(entries.at(i).bitCount, 32);

        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(sizes[i], sizes[i]));
        QVERIFY(image.hasAlphaChannel());
        // Stale icons after a change of the artwork would differ far more than this.
        const QImage scaled = artwork.scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double difference = meanDifference(image, scaled);
        QVERIFY2(
            difference < 12, qPrintable(QStringLiteral("%1 px differs by %2").arg(sizes[i]).arg(difference)));
    }
}

void TestShellResources::windowsResourceScriptCompiles()
{
    const QString windres = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
    if (windres.isEmpty())
        QSKIP("x86_64-w64-mingw32-windres is not installed");

    QTemporaryDir output;
    QVERIFY(output.isValid());
    const QString resPath = output.filePath(QStringLiteral("korvane.res"));
    QProcess process;
    process.setWorkingDirectory(output.path());
    process.start(windres,
        { QStringLiteral("-i"), resourceDirectory + QStringLiteral("/korvane.rc"), QStringLiteral("-O"),
            QStringLiteral("res"), QStringLiteral("-o"), resPath });
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
        process.readAllStandardError().constData());

    QFile res(resPath);
    QVERIFY(res.open(QIODevice::ReadOnly));
    const QList<WindowsResource> resources = parseResourceFile(res.readAll());

    constexpr int iconType = 3;
    constexpr int versionType = 16;
    constexpr int groupIconType = 14;
    constexpr int manifestType = 24;
    QList<int> iconIds;
    QByteArray group;
    QByteArray manifest;
    for (const WindowsResource &resource : resources) {
        QCOMPARE(resource.language, quint16(1033));
        QVERIFY(resource.type != QVariant(versionType));
        if (resource.type == QVariant(iconType))
            iconIds.append(resource.name.toInt());
        else if (resource.type == QVariant(groupIconType)
            && resource.name == QVariant(QStringLiteral("IDI_ICON1")))
            group = resource.data;
        else if (resource.type == QVariant(manifestType) && resource.name == QVariant(1))
            manifest = resource.data;
    }

    const QList<IconImage> images = iconImages(group, 14);
    QCOMPARE(images.size(), 3);
    QCOMPARE(iconIds.size(), 3);
    for (int i = 0; i < images.size(); ++i) {
        QCOMPARE(images.at(i).bitCount, 32);
        // The group names each of its images by the id of an icon resource.
        QVERIFY(iconIds.contains(u16(group, 6 + i * 14 + 12)));
    }
    QCOMPARE(QList<int>({ images.at(0).width, images.at(1).width, images.at(2).width }),
        QList<int>({ 16, 32, 48 }));

    QXmlStreamReader xml(manifest);
    bool levelFound = false;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement
            && xml.name() == QLatin1String("requestedExecutionLevel")) {
            QCOMPARE(xml.attributes().value(QLatin1String("level")).toString(), QStringLiteral("asInvoker"));
            QCOMPARE(xml.attributes().value(QLatin1String("uiAccess")).toString(), QStringLiteral("false"));
            levelFound = true;
        }
    }
    QVERIFY(!xml.hasError());
    QVERIFY(levelFound);
}

QTEST_GUILESS_MAIN(TestShellResources)
#include "tst_shellresources.moc"
