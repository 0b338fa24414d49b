#include "gui/capture/CSelectAdapter.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "core/capture/AdapterEntry.h"
#include "gui/ui/DialogUnits.h"

namespace {
// Wide enough for a name, an IPv4 and an IPv6 address and a hardware address side by side.
constexpr int kListWidth = 402;
}  // namespace

CSelectAdapter::CSelectAdapter(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ネットワークアダプタの選択"));
    const QString prompt = QStringLiteral("監視したい、ネットワークアダプタを選択して下さい。");
    DialogUnits du(font());
    du.fitText(font(), prompt, 158);

    auto* label = new QLabel(prompt, this);
    label->setGeometry(du.rect(7, 7, 158, 8));
    // A list that is always shown, without the edit field a typed text could leave no
    // selection in.
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("adapterList1009"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setColumnCount(kColumnCount);
    list_->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("アドレス"),
                            QStringLiteral("ハードウェア アドレス")});
    list_->setGeometry(du.rect(7, 22, kListWidth, 101 - 4));
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &CSelectAdapter::UpdateOk);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &CSelectAdapter::accept);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    ok_->setGeometry(du.rect(7, 123, 50, 16));
    connect(ok_, &QPushButton::clicked, this, &CSelectAdapter::accept);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setGeometry(du.rect(7 + kListWidth - 50, 123, 50, 16));
    connect(cancel, &QPushButton::clicked, this, &CSelectAdapter::reject);

    setFixedSize(du.size(kListWidth + 14, 146));
}

void CSelectAdapter::InitDialog(int count, const AdapterEntry* adapters, int initialIndex) {
    list_->clear();
    for (int i = 0; i < count; ++i) {
        const char* description = adapters[i].description;
        const std::size_t length = strnlen(description, AdapterEntry::kDescriptionCapacity);
        auto* item = new QTreeWidgetItem(list_);
        item->setText(kNameColumn, QString::fromUtf8(description, static_cast<qsizetype>(length)));
        item->setText(kAddressColumn, AddressText(adapters[i]));
        item->setText(kHardwareColumn, HardwareText(adapters[i]));
    }
    // Fitted to the texts, with a gap so that neighbouring columns never run together.
    const int gap = list_->fontMetrics().averageCharWidth() * 2;
    for (int column = 0; column < kColumnCount; ++column) {
        list_->resizeColumnToContents(column);
        list_->setColumnWidth(column, list_->columnWidth(column) + gap);
    }
    if (initialIndex >= 0 && initialIndex < count) {
        SetCurrentRow(initialIndex);
    }
    chosenIndex_ = 0;
    UpdateOk();
}

DialogResult CSelectAdapter::Run(int count, const AdapterEntry* adapters, int initialIndex) {
    InitDialog(count, adapters, initialIndex);
    return exec() == QDialog::Accepted ? DialogResult::kOk : DialogResult::kCancel;
}

void CSelectAdapter::accept() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return;  // refused: no adapter is chosen
    }
    chosenIndex_ = list_->indexOfTopLevelItem(selected.first());
    QDialog::accept();
}

void CSelectAdapter::UpdateOk() {
    ok_->setEnabled(!list_->selectedItems().isEmpty());
}

int CSelectAdapter::CurrentRow() const {
    return list_->currentItem() != nullptr ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
}

void CSelectAdapter::SetCurrentRow(int row) {
    list_->setCurrentItem(list_->topLevelItem(row));
}

QString CSelectAdapter::AddressText(const AdapterEntry& adapter) {
    static constexpr std::uint8_t kNone[16] = {};
    QStringList parts;
    char text[INET6_ADDRSTRLEN] = {};
    if (!IsIpv6Only(adapter) && ::inet_ntop(AF_INET, adapter.address, text, sizeof text)) {
        parts << QString::fromLatin1(text);
    }
    if (std::memcmp(adapter.address6, kNone, sizeof kNone) != 0 &&
        ::inet_ntop(AF_INET6, adapter.address6, text, sizeof text)) {
        parts << QString::fromLatin1(text);
    }
    return parts.join(QStringLiteral(", "));
}

QString CSelectAdapter::HardwareText(const AdapterEntry& adapter) {
    const std::size_t length =
        std::min<std::size_t>(adapter.physAddressLength, AdapterEntry::kPhysAddressCapacity);
    QStringList bytes;
    for (std::size_t i = 0; i < length; ++i) {
        bytes << QStringLiteral("%1").arg(adapter.physAddress[i], 2, 16, QLatin1Char('0'));
    }
    return bytes.join(QLatin1Char(':'));
}
