#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

class QCheckBox;
class QPlainTextEdit;

// "対象ファイル設定": which suffixes the detector looks for. Eleven checkboxes for the known
// suffixes and a free-text box for others, read from the suffix list file when the dialog
// opens and written back whole on OK. Cancel writes nothing. A list that cannot be written
// leaves the old file (and the table loaded from it) in use: the user is told why and the
// dialog stays open.
class CSufixDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kKnownCount = 11;

    struct Known {
        int id;              // control ID
        const char* label;   // checkbox text
        const char* suffix;  // as written to the file
        int x, y, w, h;      // dialog units
    };
    // In the order of the dialog's fields, which is also the order they are written in.
    static const std::array<Known, kKnownCount>& GetKnown();

    // Shows a failure to the user (a message box unless replaced).
    using ErrorSink = std::function<void(QWidget* parent, const QString& text)>;

    CSufixDlg(QWidget* parent, std::string suffixFile, ErrorSink showError = {});

    // Reads the file into the fields and the controls (done on construction).
    void Read();
    // Writes the controls' state to the file, aside and renamed into place; false when it
    // cannot be written (the old file is then untouched; the box it shows says why).
    bool Write();

    bool Flag(int index) const { return flags_[static_cast<std::size_t>(index)]; }
    const QString& OtherSuffixes() const { return others_; }
    QCheckBox* CheckBox(int id) const;
    QPlainTextEdit* OtherEdit() const { return otherEdit_; }

    void accept() override;

  private:
    void ToControls();
    void FromControls();

    std::string ListText() const;

    std::string suffixFile_;
    ErrorSink showError_;
    std::string writeError_;
    std::array<bool, kKnownCount> flags_{};
    // One suffix per line without its leading dot, lines ending in CR LF.
    QString others_;
    std::array<QCheckBox*, kKnownCount> boxes_{};
    QPlainTextEdit* otherEdit_ = nullptr;
};
