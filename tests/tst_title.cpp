// Which files make up a DVD title: the chosen file and the folder's other parts.
#include "files/engine/DvdTitle.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace morvane;

class TestTitle : public QObject {
    Q_OBJECT
private slots:
    void parts_data()
    {
        QTest::addColumn<QStringList>("files"); // the first is the one chosen
        QTest::addColumn<QString>("title");     // "m of parts" or "" for a file opened alone
        QTest::newRow("part 2 of 3") << QStringList{"VTS_01_2.VOB", "VTS_01_1.VOB", "VTS_01_3.VOB", "VTS_01_0.VOB"}
                                     << "2 of VTS_01_1.VOB VTS_01_2.VOB VTS_01_3.VOB";
        QTest::newRow("lower case, mixed") << QStringList{"vts_03_1.vob", "VTS_03_2.VOB"}
                                           << "1 of vts_03_1.vob VTS_03_2.VOB";
        QTest::newRow("other title sets ignored") << QStringList{"VTS_02_1.VOB", "VTS_02_2.VOB", "VTS_01_3.VOB"}
                                                  << "1 of VTS_02_1.VOB VTS_02_2.VOB";
        QTest::newRow("gap: part 2 missing") << QStringList{"VTS_01_3.VOB", "VTS_01_1.VOB"} << "";
        QTest::newRow("no part 1") << QStringList{"VTS_01_2.VOB", "VTS_01_3.VOB"} << "";
        QTest::newRow("one part only") << QStringList{"VTS_01_1.VOB", "VTS_01_0.VOB"} << "";
        QTest::newRow("menu file chosen") << QStringList{"VTS_01_0.VOB", "VTS_01_1.VOB", "VTS_01_2.VOB"} << "";
        QTest::newRow("not a part name") << QStringList{"VTS_01_1.VOB.bak", "VTS_01_1.VOB", "VTS_01_2.VOB"} << "";
        QTest::newRow("one part in two spellings") << QStringList{"VTS_01_1.VOB", "vts_01_1.vob", "VTS_01_2.VOB"}
                                                   << "";
    }
    void parts()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, title);
        QTemporaryDir dir;
        for (const QString &name : files) {
            QFile f(dir.filePath(name));
            QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(name));
        }
        const auto found = findDvdTitle(dir.filePath(files[0]));
        QString got;
        if (found) {
            got = QString::number(found->chosenPart) + " of";
            for (const QString &part : found->parts)
                got += ' ' + (part.startsWith(dir.path() + '/') ? part.mid(dir.path().size() + 1) : part);
        }
        QCOMPARE(got, title);
    }

    void aFolderIsNotAPart()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("VTS_01_1.VOB"));
        QFile(dir.filePath("VTS_01_2.VOB")).open(QIODevice::WriteOnly);
        QVERIFY(!findDvdTitle(dir.filePath("VTS_01_2.VOB")));
        QVERIFY(!findDvdTitle(dir.filePath("VTS_01_1.VOB")));
    }
};

QTEST_GUILESS_MAIN(TestTitle)
#include "tst_title.moc"
