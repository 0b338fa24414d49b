#include "gui/capture/CSelectAdapter.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <cstring>

#include "core/capture/AdapterEntry.h"
#include "gui/ui/DialogUnits.h"

CSelectAdapter::CSelectAdapter(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ネットワークアダプタの選択"));
    const QString prompt = QStringLiteral("監視したい、ネットワークアダプタを選択して下さい。");
    DialogUnits du(font());
    du.fitText(font(), prompt, 158);

    auto* label = new QLabel(prompt, this);
    label->setGeometry(du.rect(7, 7, 158, 8));
    // A list that is always shown, without the edit field a typed text could leave no
    // selection in.
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("adapterList1009"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setGeometry(du.rect(7, 22, 302, 101 - 4));
    connect(list_, &QListWidget::itemSelectionChanged, this, &CSelectAdapter::UpdateOk);
    connect(list_, &QListWidget::itemDoubleClicked, this, &CSelectAdapter::accept);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    ok_->setGeometry(du.rect(7, 123, 50, 16));
    connect(ok_, &QPushButton::clicked, this, &CSelectAdapter::accept);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setGeometry(du.rect(259, 123, 50, 16));
    connect(cancel, &QPushButton::clicked, this, &CSelectAdapter::reject);

    setFixedSize(du.size(316, 146));
}

void CSelectAdapter::InitDialog(int count, const AdapterEntry* adapters, int initialIndex) {
    list_->clear();
    for (int i = 0; i < count; ++i) {
        const char* description = adapters[i].description;
        const std::size_t length = strnlen(description, AdapterEntry::kDescriptionCapacity);
        list_->addItem(QString::fromUtf8(description, static_cast<qsizetype>(length)));
    }
    if (initialIndex >= 0 && initialIndex < count) {
        list_->setCurrentRow(initialIndex);
    }
    chosenIndex_ = 0;
    UpdateOk();
}

int CSelectAdapter::Run(int count, const AdapterEntry* adapters, int initialIndex) {
    InitDialog(count, adapters, initialIndex);
    return exec() == QDialog::Accepted ? 1 : 2;
}

void CSelectAdapter::accept() {
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return;  // refused: no adapter is chosen
    }
    chosenIndex_ = list_->row(selected.first());
    QDialog::accept();
}

void CSelectAdapter::UpdateOk() {
    ok_->setEnabled(!list_->selectedItems().isEmpty());
}
