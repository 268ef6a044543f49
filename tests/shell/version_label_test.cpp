#include <QTest>

#include "shell/version_label.h"

class VersionLabelTest : public QObject {
  Q_OBJECT

 private slots:
  void ProgramRecordNamesTheProductAndItsFileVersion() {
    TVersionLabel label;
    const std::string info = label.GetInfo();
    QVERIFY2(info.rfind("File Version: ", 0) == 0, info.c_str());
    // Four numbers separated by points.
    const std::string version = info.substr(14);
    const QStringList parts = QString::fromStdString(version).split('.');
    QCOMPARE(parts.size(), 4);
    for (const QString& part : parts) {
      bool number = false;
      part.toInt(&number);
      QVERIFY2(number, version.c_str());
    }
    QCOMPARE(label.text().toStdString(), info);
    const VersionRecord& rec = ProgramVersionRecord();
    QCOMPARE(VersionLookup(rec, "080904e4", "productname"), std::string("Tolvane"));
    QCOMPARE(VersionLookup(rec, "080904E4", "LegalCopyright"), std::string(kCopyrightLine));
  }

  void FailuresGiveTheirFixedTexts() {
    TVersionLabel label;
    VersionRecord none;
    none.present = false;
    label.SetRecord(&none);
    QCOMPARE(label.GetInfo(), std::string("File Version: < No Data Available >"));

    VersionRecord other{true, "040904B0", {{"FileVersion", "1.2.3.4"}}};
    label.SetRecord(&other);
    QCOMPARE(label.GetInfo(), std::string("File Version: Error retrieving version info"));

    VersionRecord empty{true, "080904E4", {{"FileVersion", ""}, {"Comments", "x"}}};
    label.SetRecord(&empty);
    QCOMPARE(label.GetInfo(), std::string("File Version: No Version Info"));
    label.SetVersionResource(TVersionResources::vrComments);
    QCOMPARE(label.GetInfo(), std::string("Comments: x"));
    label.SetVersionResourceKey("Missing");
    QCOMPARE(label.GetInfo(), std::string("Missing Error retrieving version info"));
  }

  void PropertiesRebuildTheCaption() {
    TVersionLabel label;
    VersionRecord rec{true, "080904E4", {{"CompanyName", "Acme"}, {"ProductName", "Tolvane"}}};
    label.SetRecord(&rec);
    label.SetInfoPrefix("Custom:");
    label.SetVersionResource(TVersionResources::vrCompanyName);
    QCOMPARE(label.InfoPrefix(), std::string("Company Name:"));
    QCOMPARE(label.text(), QString("Company Name: Acme"));
    label.SetShowInfoPrefix(false);
    QCOMPARE(label.text(), QString("Acme"));
    // A new key becomes the prefix as well.
    label.SetShowInfoPrefix(true);
    label.SetVersionResourceKey("ProductName");
    QCOMPARE(label.text(), QString("ProductName Tolvane"));
    // The language takes effect at the next rebuild only.
    label.SetLangCharset("040904B0");
    QCOMPARE(label.text(), QString("ProductName Tolvane"));
    QCOMPARE(label.GetInfo(), std::string("ProductName Error retrieving version info"));
  }
};

QTEST_MAIN(VersionLabelTest)
#include "version_label_test.moc"
