#include "korvane_aes.h"
#include "pluginentries.h"
#include "testplugins.h"

#include <QtTest>

#include <iterator>
#include <optional>

namespace {

// NIST SP 800-38A, the AES-256 examples (F.1.5 ECB, F.5.5 CTR).
const QByteArray nistKey
    = QByteArray::fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const QByteArray nistPlaintext = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a"
                                                     "ae2d8a571e03ac9c9eb76fac45af8e51"
                                                     "30c81c46a35ce411e5fbc1191a0a52ef"
                                                     "f69f2445df4f9b17ad2b417be66c3710");
const QByteArray nistEcbCiphertext = QByteArray::fromHex("f3eed1bdb5d2a03c064b5a7e3db181f8"
                                                         "591ccb10d410ed26dc5ba74a31362870"
                                                         "b6ed21b99ca6f4f9f153e7b1beafed1d"
                                                         "23304b7a39f9f3ff067d8d8f9e24ecc7");
const uint16_t nonceName[] = { 'N', 'O', 'N', 'C', 'E', 0 };
const QByteArray nistCounterBlock = QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
const QByteArray nistCtrCiphertext = QByteArray::fromHex("601ec313775789a5b7a7f504bbf3d228"
                                                         "f443e3ca4d62b59aca84e990cacaf5c5"
                                                         "2b0930daa23de94ce87017ba2d84988d"
                                                         "dfc9c58db67aada613c2dd08457941a6");

// A plug-in loaded by path with the exports used here resolved directly, so these tests
// do not depend on the tool's loader; unloaded with the object.
struct LoadedPlugin : PluginEntryTable
{
    explicit LoadedPlugin(const char *path)
        : library(QString::fromUtf8(path))
    {
        getErrorCode = reinterpret_cast<korvane_getErrorCode_fn>(library.resolve("getErrorCode"));
        addBufferParam = reinterpret_cast<korvane_addBufferParam_fn>(library.resolve("addBufferParam"));
        doBasicEncrypt = reinterpret_cast<korvane_doBasicEncrypt_fn>(library.resolve("doBasicEncrypt"));
        doMiddleEncrypt = reinterpret_cast<korvane_doMiddleEncrypt_fn>(library.resolve("doMiddleEncrypt"));
    }
    ~LoadedPlugin() { library.unload(); }

    static Buffer_T view(QByteArray &bytes)
    {
        return Buffer_T { reinterpret_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()) };
    }
    // A copy that ends with the call, as the host's buffers do.
    bool add(const QString &name, QByteArray bytes)
    {
        return addBufferParam(reinterpret_cast<const uint16_t *>(name.utf16()), view(bytes)) == 1;
    }
    // The output of encrypting this plaintext into an area of outputSize; null when refused.
    QByteArray encrypt(korvane_doBasicEncrypt_fn function, const QByteArray &plaintext, qsizetype outputSize)
    {
        QByteArray out(outputSize, '\0');
        return add("PLAINTEXT", plaintext) && function(view(out)) == 1 ? out : QByteArray();
    }
    QByteArray basic(const QByteArray &plain) { return encrypt(doBasicEncrypt, plain, 16); }
    QByteArray middle(const QByteArray &plain) { return encrypt(doMiddleEncrypt, plain, plain.size()); }

    QLibrary library;
};

} // namespace

class PluginsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void nistVectors();
    void keys();
    void middleRefusesOutputOfOtherLength();

private:
    std::optional<LoadedPlugin> aes;
};

void PluginsTest::init()
{
    // Fresh modules for each test function: a plug-in keeps its parameters while loaded.
    aes.emplace(TestPlugins::referencePlugin);
    QVERIFY2(aes->library.isLoaded(), qPrintable(aes->library.errorString()));
}

void PluginsTest::nistVectors()
{
    // The host reuses its buffers as soon as a call returns: spoil them before encrypting.
    QByteArray key = nistKey, nonce = nistCounterBlock, plaintext = nistPlaintext;
    QCOMPARE(aes->addBufferParam(KORVANE_PARAM_AESKEY, LoadedPlugin::view(key)), 1);
    QCOMPARE(aes->addBufferParam(nonceName, LoadedPlugin::view(nonce)), 1);
    QCOMPARE(aes->addBufferParam(KORVANE_PARAM_PLAINTEXT, LoadedPlugin::view(plaintext)), 1);
    for (QByteArray *buffer : { &key, &nonce, &plaintext })
        buffer->fill('\0');
    QByteArray out(nistPlaintext.size(), '\0');
    QCOMPARE(aes->doMiddleEncrypt(LoadedPlugin::view(out)), 1);
    QCOMPARE(out, nistCtrCiphertext);
    // Every call starts again from the counter block, so a prefix encrypts to a prefix.
    QCOMPARE(aes->middle(nistPlaintext.left(21)), nistCtrCiphertext.left(21));
    for (int block = 0; block < 4; ++block)
        QCOMPARE(aes->basic(nistPlaintext.mid(16 * block, 16)), nistEcbCiphertext.mid(16 * block, 16));
    QCOMPARE(aes->getErrorCode(), KORVANE_AES_OK);
}

void PluginsTest::keys()
{
    const QByteArray cpuId = QByteArray::fromHex("0123456789abcdef01");
    const QByteArray underDemoKey = aes->basic(cpuId);
    QVERIFY(!underDemoKey.isNull());
    QVERIFY(aes->add("AESKEY", nistKey));
    const QByteArray underNistKey = aes->basic(cpuId);
    QVERIFY(!underNistKey.isNull() && underNistKey != underDemoKey);
    QCOMPARE(aes->basic(cpuId + QByteArray(7, '\0')), underNistKey); // zero-padded to a block
    // A key of another size is refused and the last one kept; 0 as for a key file that cannot be read.
    for (int size : { 0, 16, 31, 33 }) {
        QVERIFY(!aes->add("AESKEY", QByteArray(size, '\x5a')));
        QCOMPARE(aes->getErrorCode(), KORVANE_AES_KEY_SIZE);
        QCOMPARE(aes->basic(nistPlaintext.left(16)), nistEcbCiphertext.left(16));
    }
    QVERIFY(aes->add("AESKEY", QByteArray::fromHex(TestPlugins::referenceDemoKey)));
    QCOMPARE(aes->basic(cpuId), underDemoKey);
}

void PluginsTest::middleRefusesOutputOfOtherLength()
{
    const std::pair<int, int> sizes[] = { { 10, 9 }, { 10, 11 }, { 100, 16 }, { 0, 16 } }; // plaintext, area
    for (const auto &[plainSize, outSize] : sizes) {
        QVERIFY(aes->add("PLAINTEXT", QByteArray(plainSize, 'p')));
        QByteArray out(outSize, '\x11');
        QCOMPARE(aes->doMiddleEncrypt(LoadedPlugin::view(out)), 0);
        QCOMPARE(aes->getErrorCode(), KORVANE_AES_OUTPUT_SIZE);
        QCOMPARE(out, QByteArray(outSize, '\x11'));
    }
}

QTEST_GUILESS_MAIN(PluginsTest)
#include "tst_plugins.moc"
