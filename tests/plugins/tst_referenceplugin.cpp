#include "korvane_aes.h"
#include "loadedplugin.h"
#include "testplugins.h"

#include <QtTest>

#include <functional>
#include <memory>

namespace {

// NIST SP 800-38A, the AES-256 examples (F.1.5 ECB, F.5.5 CTR).
const QByteArray nistKey
    = QByteArray::fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const QByteArray nistPlaintext = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a"
                                                     "ae2d8a571e03ac9c9eb76fac45af8e51"
                                                     "30c81c46a35ce411e5fbc1191a0a52ef"
                                                     "f69f2445df4f9b17ad2b417be66c3710");
const QByteArray nistCounterBlock = QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
const QByteArray nistCtrCiphertext = QByteArray::fromHex("601ec313775789a5b7a7f504bbf3d228"
                                                         "f443e3ca4d62b59aca84e990cacaf5c5"
                                                         "2b0930daa23de94ce87017ba2d84988d"
                                                         "dfc9c58db67aada613c2dd08457941a6");

const QString plaintextName = QStringLiteral("PLAINTEXT");
const QString keyName = QStringLiteral("AESKEY");
const QString nonceName = QStringLiteral("NONCE");

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 17) & 0xff);
    return bytes;
}

} // namespace

// The reference plug-in, each test function against a freshly loaded module: the
// plug-in keeps its parameters for the life of the module.
class ReferencePluginTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersAllLevels();
    void basicMatchesNistEcb_data();
    void basicMatchesNistEcb();
    void middleMatchesNistCtr();
    void basicPadsShortIdWithZeros();
    void demoKeyUntilAKeyIsGiven();
    void keyOfWrongSizeKeepsThePreviousKey_data();
    void keyOfWrongSizeKeepsThePreviousKey();
    void middleKeepsTheLength_data();
    void middleKeepsTheLength();
    void middleRefusesOutputOfOtherLength_data();
    void middleRefusesOutputOfOtherLength();
    void defaultNonceAndItsReplacement();
    void parametersAreCopied();
    void errorCodes();

private:
    QByteArray basic(const QByteArray &plaintext);
    QByteArray middle(const QByteArray &plaintext);
    bool add(const QString &name, const QByteArray &bytes);

    std::unique_ptr<LoadedPlugin> plugin;
};

void ReferencePluginTest::init()
{
    plugin = std::make_unique<LoadedPlugin>(TestPlugins::referencePlugin);
    QVERIFY2(plugin->isComplete(), qPrintable(plugin->library.errorString()));
}

void ReferencePluginTest::cleanup()
{
    plugin.reset();
}

bool ReferencePluginTest::add(const QString &name, const QByteArray &bytes)
{
    QByteArray copy = bytes;
    return plugin->addBuffer(name, copy) != 0;
}

// Null when the plug-in refuses.
QByteArray ReferencePluginTest::basic(const QByteArray &plaintext)
{
    if (!add(plaintextName, plaintext))
        return QByteArray();
    QByteArray out(16, '\0');
    return plugin->doBasicEncrypt(LoadedPlugin::view(out)) ? out : QByteArray();
}

QByteArray ReferencePluginTest::middle(const QByteArray &plaintext)
{
    if (!add(plaintextName, plaintext))
        return QByteArray();
    QByteArray out(plaintext.size(), '\0');
    return plugin->doMiddleEncrypt(LoadedPlugin::view(out)) ? out : QByteArray();
}

void ReferencePluginTest::answersAllLevels()
{
    QCOMPARE(plugin->getProofLevel(), KORVANE_PROOF_BASIC | KORVANE_PROOF_MIDDLE | KORVANE_PROOF_HIGH);
}

void ReferencePluginTest::basicMatchesNistEcb_data()
{
    QTest::addColumn<QByteArray>("plaintext");
    QTest::addColumn<QByteArray>("ciphertext");
    QTest::newRow("block 1") << nistPlaintext.mid(0, 16)
                             << QByteArray::fromHex("f3eed1bdb5d2a03c064b5a7e3db181f8");
    QTest::newRow("block 2") << nistPlaintext.mid(16, 16)
                             << QByteArray::fromHex("591ccb10d410ed26dc5ba74a31362870");
    QTest::newRow("block 3") << nistPlaintext.mid(32, 16)
                             << QByteArray::fromHex("b6ed21b99ca6f4f9f153e7b1beafed1d");
    QTest::newRow("block 4") << nistPlaintext.mid(48, 16)
                             << QByteArray::fromHex("23304b7a39f9f3ff067d8d8f9e24ecc7");
}

void ReferencePluginTest::basicMatchesNistEcb()
{
    QFETCH(QByteArray, plaintext);
    QFETCH(QByteArray, ciphertext);
    QVERIFY(add(keyName, nistKey));
    QCOMPARE(basic(plaintext), ciphertext);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
}

void ReferencePluginTest::middleMatchesNistCtr()
{
    QVERIFY(add(keyName, nistKey));
    QVERIFY(add(nonceName, nistCounterBlock));
    QCOMPARE(middle(nistPlaintext), nistCtrCiphertext);
    // Every call starts again from the counter block, so a prefix encrypts to a prefix.
    QCOMPARE(middle(nistPlaintext.left(21)), nistCtrCiphertext.left(21));
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
}

void ReferencePluginTest::basicPadsShortIdWithZeros()
{
    const QByteArray cpuId = QByteArray::fromHex("0123456789abcdef01");
    const QByteArray padded = cpuId + QByteArray(16 - cpuId.size(), '\0');
    QVERIFY(add(keyName, nistKey));
    const QByteArray fromShort = basic(cpuId);
    QVERIFY(!fromShort.isNull());
    QCOMPARE(fromShort, basic(padded));
    QCOMPARE(basic(QByteArray()), basic(QByteArray(16, '\0')));

    // An output area larger than a block: only the first 16 bytes are written.
    QVERIFY(add(plaintextName, cpuId));
    QByteArray wide(20, '\x77');
    QCOMPARE(plugin->doBasicEncrypt(LoadedPlugin::view(wide)), 1);
    QCOMPARE(wide.left(16), fromShort);
    QCOMPARE(wide.mid(16), QByteArray(4, '\x77'));
}

void ReferencePluginTest::demoKeyUntilAKeyIsGiven()
{
    const QByteArray cpuId = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray withoutKey = basic(cpuId);
    QVERIFY(!withoutKey.isNull());
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
    QVERIFY(withoutKey != cpuId);

    QVERIFY(add(keyName, nistKey));
    const QByteArray withKey = basic(cpuId);
    QVERIFY(!withKey.isNull());
    QVERIFY(withKey != withoutKey);

    QVERIFY(add(keyName, QByteArray::fromHex(TestPlugins::referenceDemoKey)));
    QCOMPARE(basic(cpuId), withoutKey);
}

void ReferencePluginTest::keyOfWrongSizeKeepsThePreviousKey_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty, as for a key file that cannot be opened") << 0;
    QTest::newRow("one short") << 31;
    QTest::newRow("one over") << 33;
    QTest::newRow("AES-128 size") << 16;
}

void ReferencePluginTest::keyOfWrongSizeKeepsThePreviousKey()
{
    QFETCH(int, size);
    const QByteArray cpuId = QByteArray::fromHex("a1a2a3a4a5a6a7a8a9");
    QVERIFY(add(keyName, nistKey));
    const QByteArray underNistKey = basic(cpuId);
    QVERIFY(!underNistKey.isNull());

    QVERIFY(!add(keyName, pattern(size)));
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_KEY_SIZE);
    QCOMPARE(basic(cpuId), underNistKey);
}

void ReferencePluginTest::middleKeepsTheLength_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 0, 1, 15, 16, 17, 65535 })
        QTest::addRow("%d bytes", size) << size;
}

void ReferencePluginTest::middleKeepsTheLength()
{
    QFETCH(int, size);
    // CTR output = plaintext XOR key stream; the stream comes from encrypting zeros.
    QVERIFY(add(keyName, nistKey));
    const QByteArray keyStream = middle(QByteArray(65535, '\0'));
    QCOMPARE(keyStream.size(), 65535);

    const QByteArray plaintext = pattern(size);
    QVERIFY(add(plaintextName, plaintext));
    // Guard bytes around the area catch a write past either end.
    QByteArray area = QByteArray(8, '\x3c') + QByteArray(size, '\0') + QByteArray(8, '\x3c');
    Buffer_T out { reinterpret_cast<uint8_t *>(area.data()) + 8, uint32_t(size) };
    QCOMPARE(plugin->doMiddleEncrypt(out), 1);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
    QCOMPARE(area.left(8), QByteArray(8, '\x3c'));
    QCOMPARE(area.right(8), QByteArray(8, '\x3c'));

    const QByteArray ciphertext = area.mid(8, size);
    QByteArray expected(size, '\0');
    for (int i = 0; i < size; ++i)
        expected[i] = char(plaintext.at(i) ^ keyStream.at(i));
    QCOMPARE(ciphertext, expected);
}

void ReferencePluginTest::middleRefusesOutputOfOtherLength_data()
{
    QTest::addColumn<int>("plainSize");
    QTest::addColumn<int>("outSize");
    QTest::newRow("one short") << 10 << 9;
    QTest::newRow("one over") << 10 << 11;
    QTest::newRow("Basic-sized area") << 100 << 16;
    QTest::newRow("area for empty plaintext") << 0 << 16;
}

void ReferencePluginTest::middleRefusesOutputOfOtherLength()
{
    QFETCH(int, plainSize);
    QFETCH(int, outSize);
    QVERIFY(add(plaintextName, pattern(plainSize)));
    QByteArray out(outSize, '\x11');
    QCOMPARE(plugin->doMiddleEncrypt(LoadedPlugin::view(out)), 0);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OUTPUT_SIZE);
    QCOMPARE(out, QByteArray(outSize, '\x11'));
}

void ReferencePluginTest::defaultNonceAndItsReplacement()
{
    const QByteArray data = pattern(40);
    const QByteArray underDefault = middle(data);
    QVERIFY(!underDefault.isNull());

    const unsigned char documented[] = KORVANE_AES_DEFAULT_NONCE;
    QVERIFY(add(nonceName, QByteArray(reinterpret_cast<const char *>(documented), sizeof documented)));
    QCOMPARE(middle(data), underDefault);

    // A refused nonce keeps the one before.
    QVERIFY(add(nonceName, nistCounterBlock));
    const QByteArray underNist = middle(data);
    QVERIFY(underNist != underDefault);
    QVERIFY(!add(nonceName, pattern(12)));
    QCOMPARE(middle(data), underNist);
}

void ReferencePluginTest::parametersAreCopied()
{
    // The host releases its buffers as soon as the call returns: spoil them before
    // encrypting, and the known answer must still come out.
    QByteArray key = nistKey;
    QByteArray nonce = nistCounterBlock;
    QByteArray plain = nistPlaintext;
    QCOMPARE(plugin->addBuffer(keyName, key), 1);
    QCOMPARE(plugin->addBuffer(nonceName, nonce), 1);
    QCOMPARE(plugin->addBuffer(plaintextName, plain), 1);
    key.fill('\0');
    nonce.fill('\0');
    plain.fill('\0');
    QByteArray out(nistPlaintext.size(), '\0');
    QCOMPARE(plugin->doMiddleEncrypt(LoadedPlugin::view(out)), 1);
    QCOMPARE(out, nistCtrCiphertext);
}

void ReferencePluginTest::errorCodes()
{
    QByteArray out(16, '\0');
    const uint16_t *flag = LoadedPlugin::utf16(QStringLiteral("FLAG"));
    const uint16_t *text = LoadedPlugin::utf16(QStringLiteral("text"));

    // Nothing to encrypt yet in a fresh module.
    QCOMPARE(plugin->doBasicEncrypt(LoadedPlugin::view(out)), 0);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_NO_PLAINTEXT);
    QCOMPARE(plugin->doMiddleEncrypt(LoadedPlugin::view(out)), 0);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_NO_PLAINTEXT);

    // An empty plaintext, as from an empty data file, is a plaintext.
    QCOMPARE(plugin->addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { nullptr, 0 }), 1);
    QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
    QCOMPARE(plugin->doMiddleEncrypt(Buffer_T { nullptr, 0 }), 1);

    const struct
    {
        const char *what;
        std::function<int32_t()> call;
        int32_t code;
    } failures[] = {
        { "unknown buffer name", [&] { return plugin->addBuffer(QStringLiteral("IV"), out); },
            KORVANE_AES_UNKNOWN_PARAMETER },
        { "uint parameter", [&] { return plugin->addUintParam(flag, 1); }, KORVANE_AES_UNKNOWN_PARAMETER },
        { "bool parameter", [&] { return plugin->addBoolParam(flag, 1); }, KORVANE_AES_UNKNOWN_PARAMETER },
        { "string parameter", [&] { return plugin->addStringParam(flag, text); },
            KORVANE_AES_UNKNOWN_PARAMETER },
        { "null name", [&] { return plugin->addBufferParam(nullptr, LoadedPlugin::view(out)); },
            KORVANE_AES_BAD_ARGUMENT },
        { "null uint name", [&] { return plugin->addUintParam(nullptr, 1); }, KORVANE_AES_BAD_ARGUMENT },
        { "null data",
            [&] {
                return plugin->addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { nullptr, 4 });
            },
            KORVANE_AES_BAD_ARGUMENT },
        { "short key", [&] { return plugin->addBufferParam(KORVANE_PARAM_AESKEY, LoadedPlugin::view(out)); },
            KORVANE_AES_KEY_SIZE },
        { "short nonce", [&] { return int32_t(add(nonceName, pattern(15))); }, KORVANE_AES_NONCE_SIZE },
        { "id over one block", [&] { return int32_t(!basic(pattern(17)).isNull()); },
            KORVANE_AES_PLAINTEXT_TOO_LONG },
        { "Basic area under a block",
            [&] {
                return plugin->doBasicEncrypt(Buffer_T { reinterpret_cast<uint8_t *>(out.data()), 15 });
            },
            KORVANE_AES_OUTPUT_SIZE },
        { "null Basic area",
            [&] {
                return plugin->doBasicEncrypt(Buffer_T { nullptr, 16 });
            },
            KORVANE_AES_BAD_ARGUMENT },
        { "High", [&] { return plugin->doHighEncrypt(LoadedPlugin::view(out)); }, KORVANE_AES_UNSUPPORTED },
    };
    for (const auto &failure : failures) {
        // Each failure follows a success, so the code is this call's and not left over.
        QVERIFY(!basic(pattern(4)).isNull());
        QCOMPARE(plugin->getErrorCode(), KORVANE_AES_OK);
        QVERIFY2(failure.call() == 0, failure.what);
        QVERIFY2(plugin->getErrorCode() == failure.code,
            qPrintable(QStringLiteral("%1: %2").arg(failure.what).arg(plugin->getErrorCode())));
        // Asking does not change the answer.
        QCOMPARE(plugin->getErrorCode(), failure.code);
    }
}

QTEST_GUILESS_MAIN(ReferencePluginTest)
#include "tst_referenceplugin.moc"
