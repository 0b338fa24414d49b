#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
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
    void cancelReturnsTwo();
};

void CSelectAdapterTest::listsDescriptionsInOrderAndPreselects() {
    // One adapter with two addresses: two items with the same text.
    const auto list = adapters({"eth0", "eth0", "wlan0"});
    CSelectAdapter dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ネットワークアダプタの選択"));
    auto* label = dialog.findChild<QLabel*>();
    QVERIFY(label->width() >= label->sizeHint().width());
    dialog.InitDialog(3, list.data(), 1);
    QCOMPARE(dialog.adapterList()->count(), 3);
    QCOMPARE(dialog.adapterList()->item(0)->text(), QStringLiteral("eth0"));
    QCOMPARE(dialog.adapterList()->item(1)->text(), QStringLiteral("eth0"));
    QCOMPARE(dialog.adapterList()->currentRow(), 1);
    QCOMPARE(dialog.chosenIndex(), 0);
    dialog.accept();
    QCOMPARE(dialog.chosenIndex(), 1);
}

void CSelectAdapterTest::okWithoutSelectionIsRefused() {
    const auto list = adapters({"eth0", "eth1"});
    CSelectAdapter dialog;
    dialog.InitDialog(2, list.data(), 7);  // an old index beyond the list selects nothing
    QVERIFY(dialog.adapterList()->selectedItems().isEmpty());
    QVERIFY(!dialog.okButton()->isEnabled());
    dialog.show();
    dialog.accept();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.chosenIndex(), 0);
    dialog.adapterList()->setCurrentRow(1);
    QVERIFY(dialog.okButton()->isEnabled());
    dialog.adapterList()->clearSelection();
    QVERIFY(!dialog.okButton()->isEnabled());
}

void CSelectAdapterTest::runReturnsOkWithTheChosenIndex() {
    const auto list = adapters({"eth0", "eth1", "eth2"});
    CSelectAdapter dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.adapterList()->setCurrentRow(2);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QCOMPARE(dialog.Run(3, list.data(), 0), 1);
    QCOMPARE(dialog.chosenIndex(), 2);
}

void CSelectAdapterTest::cancelReturnsTwo() {
    const auto list = adapters({"eth0", "eth1"});
    CSelectAdapter dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
    });
    QCOMPARE(dialog.Run(2, list.data(), 1), 2);
}

QTEST_MAIN(CSelectAdapterTest)
#include "CSelectAdapterTest.moc"
