#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstring>
#include <vector>

#include "core/capture/AdapterEntry.h"
#include "gui/capture/CSelectAdapter.h"

namespace {

std::vector<AdapterEntry> adapters(std::initializer_list<const char*> names) {
    std::vector<AdapterEntry> list(names.size(), AdapterEntry{});
    std::size_t i = 0;
    for (const char* name : names) {
        std::strncpy(list[i++].description, name, AdapterEntry::kDescriptionCapacity - 1);
    }
    return list;
}

}  // namespace

class CSelectAdapterTest : public QObject {
    Q_OBJECT

  private slots:
    void listsDescriptionsInOrderAndPreselects();
    void okWithoutSelectionIsRefused();
    void runReturnsOkWithTheChosenIndex();
    void cancelReturnsCancel();
    void addressesAndHardwareAddressBesideTheName_data();
    void addressesAndHardwareAddressBesideTheName();
};

void CSelectAdapterTest::listsDescriptionsInOrderAndPreselects() {
    // One adapter with two addresses: two items with the same text.
    const auto list = adapters({"eth0", "eth0", "wlan0"});
    CSelectAdapter dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ネットワークアダプタの選択"));
    auto* label = dialog.findChild<QLabel*>();
    QVERIFY(label->width() >= label->sizeHint().width());
    dialog.InitDialog(3, list.data(), 1);
    QCOMPARE(dialog.AdapterList()->topLevelItemCount(), 3);
    QCOMPARE(dialog.AdapterList()->topLevelItem(0)->text(0), QStringLiteral("eth0"));
    QCOMPARE(dialog.AdapterList()->topLevelItem(1)->text(0), QStringLiteral("eth0"));
    QCOMPARE(dialog.CurrentRow(), 1);
    QCOMPARE(dialog.ChosenIndex(), 0);
    dialog.accept();
    QCOMPARE(dialog.ChosenIndex(), 1);
}

void CSelectAdapterTest::okWithoutSelectionIsRefused() {
    const auto list = adapters({"eth0", "eth1"});
    CSelectAdapter dialog;
    dialog.InitDialog(2, list.data(), 7);  // an old index beyond the list selects nothing
    QVERIFY(dialog.AdapterList()->selectedItems().isEmpty());
    QVERIFY(!dialog.OkButton()->isEnabled());
    dialog.show();
    dialog.accept();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.ChosenIndex(), 0);
    dialog.SetCurrentRow(1);
    QVERIFY(dialog.OkButton()->isEnabled());
    dialog.AdapterList()->clearSelection();
    QVERIFY(!dialog.OkButton()->isEnabled());
}

void CSelectAdapterTest::runReturnsOkWithTheChosenIndex() {
    const auto list = adapters({"eth0", "eth1", "eth2"});
    CSelectAdapter dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.SetCurrentRow(2);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    QCOMPARE(dialog.Run(3, list.data(), 0), DialogResult::kOk);
    QCOMPARE(dialog.ChosenIndex(), 2);
}

void CSelectAdapterTest::cancelReturnsCancel() {
    const auto list = adapters({"eth0", "eth1"});
    CSelectAdapter dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
    });
    QCOMPARE(dialog.Run(2, list.data(), 1), DialogResult::kCancel);
}

void CSelectAdapterTest::addressesAndHardwareAddressBesideTheName_data() {
    QTest::addColumn<QByteArray>("ipv4");
    QTest::addColumn<QByteArray>("ipv6");
    QTest::addColumn<QByteArray>("hardware");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("hardwareText");
    const QByteArray v6 = QByteArray::fromHex("20010db8000000000000000000000001");
    const QByteArray mac = QByteArray::fromHex("0200a1b2c3ff");
    QTest::newRow("IPv4") << QByteArray::fromHex("c0000201") << QByteArray() << mac
                          << QStringLiteral("192.0.2.1") << QStringLiteral("02:00:a1:b2:c3:ff");
    QTest::newRow("both") << QByteArray::fromHex("0a000001") << v6 << mac
                          << QStringLiteral("10.0.0.1, 2001:db8::1")
                          << QStringLiteral("02:00:a1:b2:c3:ff");
    QTest::newRow("IPv6 only") << QByteArray() << v6 << QByteArray()
                               << QStringLiteral("2001:db8::1") << QString();
    // A length beyond the field never reads past it.
    QTest::newRow("long hardware") << QByteArray::fromHex("0a000001") << QByteArray()
                                   << QByteArray(20, 1) << QStringLiteral("10.0.0.1")
                                   << QStringLiteral("01:01:01:01:01:01:01:01:01:01:01:01:01:01");
}

void CSelectAdapterTest::addressesAndHardwareAddressBesideTheName() {
    QFETCH(QByteArray, ipv4);
    QFETCH(QByteArray, ipv6);
    QFETCH(QByteArray, hardware);
    QFETCH(QString, address);
    QFETCH(QString, hardwareText);
    auto list = adapters({"eth0", "eth1"});
    AdapterEntry& entry = list[1];
    std::memcpy(entry.address, ipv4.constData(), static_cast<std::size_t>(ipv4.size()));
    std::memcpy(entry.address6, ipv6.constData(), static_cast<std::size_t>(ipv6.size()));
    const auto copied = std::min<qsizetype>(hardware.size(), AdapterEntry::kPhysAddressCapacity);
    std::memcpy(entry.physAddress, hardware.constData(), static_cast<std::size_t>(copied));
    entry.physAddressLength = static_cast<std::uint8_t>(hardware.size());
    CSelectAdapter dialog;
    dialog.InitDialog(2, list.data(), 0);
    const QTreeWidgetItem* row = dialog.AdapterList()->topLevelItem(1);
    QCOMPARE(row->text(CSelectAdapter::kNameColumn), QStringLiteral("eth1"));
    QCOMPARE(row->text(CSelectAdapter::kAddressColumn), address);
    QCOMPARE(row->text(CSelectAdapter::kHardwareColumn), hardwareText);
}

QTEST_MAIN(CSelectAdapterTest)
#include "CSelectAdapterTest.moc"
