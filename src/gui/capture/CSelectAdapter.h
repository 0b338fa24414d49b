#pragma once

#include <QDialog>

#include "gui/ui/DialogResult.h"

struct AdapterEntry;
class QTreeWidget;
class QPushButton;

// "ネットワークアダプタの選択": the user picks the adapter to monitor. The adapters are listed
// in array order, always shown, by description with their addresses and hardware address
// beside it; the last choice is preselected. OK needs a selection, so the chosen index is
// always one of the adapters.
class CSelectAdapter : public QDialog {
    Q_OBJECT
  public:
    explicit CSelectAdapter(QWidget* parent = nullptr);

    // Runs the dialog modally; kOk when ChosenIndex() holds the choice.
    DialogResult Run(int count, const AdapterEntry* adapters, int initialIndex);

    int ChosenIndex() const { return chosenIndex_; }
    enum Column { kNameColumn, kAddressColumn, kHardwareColumn, kColumnCount };

    QTreeWidget* AdapterList() const { return list_; }
    // The list's row of the current adapter, -1 when none.
    int CurrentRow() const;
    void SetCurrentRow(int row);

    // "192.0.2.1", "2001:db8::1", or both joined by ", "; empty when the entry has neither.
    static QString AddressText(const AdapterEntry& adapter);
    // "aa:bb:cc:dd:ee:ff"; empty when the adapter has none.
    static QString HardwareText(const AdapterEntry& adapter);
    QPushButton* OkButton() const { return ok_; }

    // Fills the list and preselects the initial index (what Run does before it shows).
    void InitDialog(int count, const AdapterEntry* adapters, int initialIndex);

    void accept() override;

  private:
    void UpdateOk();

    int chosenIndex_ = 0;
    QTreeWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};
