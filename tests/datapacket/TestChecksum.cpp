// The chunk checksum is what a packet's manifest promises and what the
// installation check compares: it must be plain SHA-256 of the bytes, the
// same from memory and from a file, whatever the size.
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include "NompackError.h"
#include "PacketManifest.h"

namespace {

QByteArray Pattern(qsizetype size) {
  QByteArray bytes(size, Qt::Uninitialized);
  quint32 x = 2463534242u;
  for (qsizetype i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(x);
  }
  return bytes;
}

QByteArray Reference(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

}  // namespace

class TestChecksum : public QObject {
  Q_OBJECT

 private slots:
  void knownDigests_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty")
        << QByteArray()
        << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("abc") << QByteArray("abc")
                         << QByteArray(
                                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    QTest::newRow("a million a")
        << QByteArray(1000000, 'a')
        << QByteArray("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
  void knownDigests() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, digest);
    QCOMPARE(BytesChecksum(bytes), digest);
  }

  // Sizes on both sides of the 64-byte block and of the 1 MiB piece a file
  // is read in; memory and file give what an independent SHA-256 gives.
  void memoryAndFileAgree_data() {
    QTest::addColumn<qsizetype>("size");
    for (const qsizetype size :
         {qsizetype(1), qsizetype(55), qsizetype(56), qsizetype(63), qsizetype(64), qsizetype(65),
          qsizetype(25000), qsizetype((1 << 20) - 1), qsizetype(1 << 20), qsizetype((1 << 20) + 1),
          qsizetype(3 * (1 << 20) + 37)})
      QTest::addRow("%lld bytes", static_cast<long long>(size)) << size;
  }
  void memoryAndFileAgree() {
    QFETCH(qsizetype, size);
    const QByteArray bytes = Pattern(size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ARTICLE[1].xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), size);
    file.close();
    QCOMPARE(BytesChecksum(bytes), Reference(bytes));
    QCOMPARE(FileChecksum(path), Reference(bytes));
  }

  void emptyFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(FileChecksum(path), BytesChecksum(QByteArray()));
  }

  void unreadableFileIsNamed() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.xml"));
    try {
      FileChecksum(path);
      QFAIL("a missing file gave a checksum");
    } catch (const ENompackError& e) {
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
      QVERIFY2(
          e.Message().startsWith(QStringLiteral("Файлът %1 не може да бъде прочетен: ").arg(path)),
          qPrintable(e.Message()));
    }
  }
};

QTEST_GUILESS_MAIN(TestChecksum)
#include "TestChecksum.moc"
