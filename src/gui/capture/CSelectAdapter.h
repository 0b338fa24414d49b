#pragma once

#include <QDialog>

struct AdapterEntry;
class QListWidget;
class QPushButton;

// "ネットワークアダプタの選択": the user picks the adapter to monitor. The adapters are listed
// by description in array order, always shown; the last choice is preselected. OK needs a
// selection, so the chosen index is always one of the adapters.
class CSelectAdapter : public QDialog {
    Q_OBJECT
  public:
    explicit CSelectAdapter(QWidget* parent = nullptr);

    // Runs the dialog modally; 1 for OK (chosenIndex() then holds the choice), 2 for Cancel.
    int Run(int count, const AdapterEntry* adapters, int initialIndex);

    int chosenIndex() const { return chosenIndex_; }
    QListWidget* adapterList() const { return list_; }
    QPushButton* okButton() const { return ok_; }

    // Fills the list and preselects the initial index (what Run does before it shows).
    void InitDialog(int count, const AdapterEntry* adapters, int initialIndex);

    void accept() override;

  private:
    void UpdateOk();

    int chosenIndex_ = 0;
    QListWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};
